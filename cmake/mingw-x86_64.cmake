# Cross-compiles for 64-bit Windows: the library for the browser's 64-bit tab processes.
set(ZORBEX_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WIDL_TARGET --win64)
set(WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(ZORBEX_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
