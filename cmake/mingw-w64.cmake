# Cross-builds tolbe.exe on Debian with g++-mingw-w64-x86-64-posix:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#     -DTOLBE_BUILTIN_BLAS=ON -DTOLBE_BUILD_TESTS=OFF
# The posix flavour, not win32: its libstdc++ has std::thread and the
# library's intervals use it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLBE_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TOLBE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLBE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLBE_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TOLBE_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TOLBE_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP ${TOLBE_MINGW_TRIPLET}-strip CACHE FILEPATH "")

# Libraries and packages come from the MinGW tree only, never from the
# host's /usr: its headers are glibc's. The JSON header is the exception,
# which CMakeLists.txt takes from /usr/include/nlohmann alone.
set(CMAKE_FIND_ROOT_PATH /usr/${TOLBE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library's own printf family formats as msvcrt does (three-digit
# exponents); MinGW's formats as glibc does, which the reports need.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
# MinGW's <math.h> in strict ISO mode (CMAKE_CXX_EXTENSIONS OFF) defines
# M_PI only on request; glibc's defines it anyway.
add_compile_definitions(_USE_MATH_DEFINES)

# Lets ctest and add_custom_command run the program through wine.
find_program(TOLBE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TOLBE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLBE_WINE})
endif()
