# huemill as a 32-bit x86 Windows console program (g++-mingw-w64-i686),
# tested under wine (wine32).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(HUEMILL_MINGW_TARGET i686-w64-mingw32)
find_program(HUEMILL_WINE NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
