# Cross-compiles for 64-bit Windows with MinGW-w64 (posix threading model): the library for the
# browser's 64-bit tab processes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl writes the time it runs into every type library ("Created by WIDL ... at"), which ends up in the
# DLL's resources: a fixed time keeps the output the same for the same sources.
set(WIDL_EXECUTABLE ${CMAKE_COMMAND} -E env WIDL_TIME_OVERRIDE=0 x86_64-w64-mingw32-widl)
# Type libraries of this build describe 64-bit code (SYS_WIN64).
set(WIDL_TARGET --win64)
set(WINE_IDL_INCLUDE /usr/include/wine/wine/windows)
set(WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
# The architecture's name in file and folder names (tests, scripts, the installer).
set(ZORBEX_ARCH x64)
