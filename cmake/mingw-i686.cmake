# Cross-compiles for 32-bit Windows with MinGW-w64 (posix threading model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_DLLTOOL i686-w64-mingw32-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl writes the time it runs into every type library ("Created by WIDL ... at"), which ends up in the
# DLL's resources: a fixed time keeps the output the same for the same sources.
set(WIDL_EXECUTABLE ${CMAKE_COMMAND} -E env WIDL_TIME_OVERRIDE=0 i686-w64-mingw32-widl)
set(WINE_IDL_INCLUDE /usr/include/wine/wine/windows)
set(WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
# Type libraries of this build describe 32-bit code (SYS_WIN32).
set(WIDL_TARGET --win32)
# The architecture's name in file and folder names (tests, scripts, the installer).
set(ZORBEX_ARCH x86)
