# huemill as a 64-bit x86 Windows console program (g++-mingw-w64-x86-64),
# tested under wine64. Where wine32 is installed the wine command picks it
# even for 64-bit programs, so wine64's own loader is named here.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(HUEMILL_MINGW_TARGET x86_64-w64-mingw32)
find_program(HUEMILL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(HUEMILL_WINE NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
