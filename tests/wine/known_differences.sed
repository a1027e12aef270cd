# The plug-in log of the Windows session under Wine and that of the same
# session on Linux differ only where the platform answers differently. Each
# rule below brings one known difference to a common form; anything else
# that differs fails the comparison.

# Windows writes text files with CRLF line ends.
s/\r$//

# The text after an HRESULT comes from AMGetErrorTextA: Wine's quartz has no
# text for S_OK (the library then prints "Error: 0x0"), the simulated one
# answers the system's message. Only the code is compared.
s#(ERROR: \([0-9A-Fa-f]*\)/[^)]*)#(ERROR: \1/<error text>)#
