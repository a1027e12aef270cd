# 32-bit x86 Linux programs with the system's compiler (gcc-multilib): the
# quantiser built as the DLL builds it, to tell what 32-bit x86 code costs
# from what Wine adds (tests/wine/linux-i686). Position-dependent code, as
# in a Windows DLL, which needs no register for a global offset table.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_CXX_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
