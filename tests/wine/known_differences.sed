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
# Wine's RenderFile names the file source it adds "Reader"; Windows names it
# by the file's path, as the simulated graph does.
s#\(<logFilter>: FILTER [0-9]*: \)\(Reader\|rendered[-a-z0-9]*\.mpg\)$#\1<rendered file's source>#
s#\(<releaseGraph>: removing and releasing filter \)\(Reader\|rendered[-a-z0-9]*\.mpg\)$#\1<rendered file's source>#

# Once a graph has run, Wine's graph manager enumerates its filters
# renderers first; Windows keeps them newest first, as the simulated graph
# does. The tear-down goes through them in enumeration order, so its lines
# come in another order: which filters it releases is not compared.
/<releaseGraph>: removing and releasing filter /d
/<releaseGraph>: Filter released with [0-9]* references left$/d
