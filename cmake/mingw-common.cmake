# What both toolchain files share: MinGW-w64 (win32 threading model) of the triplet ZORBEX_TRIPLET, widl with
# a fixed time and Wine's IDL files. The including file sets ZORBEX_TRIPLET, CMAKE_SYSTEM_PROCESSOR,
# WIDL_TARGET (--win32 or --win64: the syskind of the type libraries), WINE_TLB_DIR (where stdole2.tlb of
# that architecture is) and ZORBEX_ARCH (x86 or x64: the architecture's name in file and folder names).
set(CMAKE_SYSTEM_NAME Windows)

# The win32 threading model: the runtime's threads go through Win32 calls, not a posix threads library
# linked into the DLL, which takes a TLS slot, a per-thread record and a thread handle on first use and gives
# none of them back at unload (the 32-bit unwinder reached it at every load). The price: no std::thread or
# std::mutex; the library locks with SRW locks (TExclusiveLock), the tests start threads with TTestThread.
set(CMAKE_C_COMPILER ${ZORBEX_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZORBEX_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${ZORBEX_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${ZORBEX_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORBEX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl writes the time it runs into every type library ("Created by WIDL ... at"), which ends up in the
# DLL's resources: a fixed time keeps the output the same for the same sources.
set(WIDL_EXECUTABLE ${CMAKE_COMMAND} -E env WIDL_TIME_OVERRIDE=0 ${ZORBEX_TRIPLET}-widl)
set(WINE_IDL_INCLUDE /usr/include/wine/wine/windows)
