# Cross-compiles for 32-bit Windows: the library for the 32-bit browser.
set(ZORBEX_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WIDL_TARGET --win32)
set(WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
set(ZORBEX_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
