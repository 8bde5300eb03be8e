# Shared by the Windows toolchain files: cross-build huemill with Debian's
# MinGW-w64 compilers for HUEMILL_MINGW_TARGET, and have CTest run every
# test under wine.
set(CMAKE_SYSTEM_NAME Windows)

# The posix flavour: its libstdc++ has the threads GoogleTest expects.
set(CMAKE_C_COMPILER ${HUEMILL_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HUEMILL_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${HUEMILL_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HUEMILL_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beyond those Windows ships: libgcc, libstdc++ and winpthread are
# linked into every program, the tests' too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${HUEMILL_WINE})
# wine shows the Linux file system as drive Z:.
set(HUEMILL_TEST_PATH_PREFIX "Z:")
