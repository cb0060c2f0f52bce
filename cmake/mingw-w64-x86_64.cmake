# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads
# flavour: std::thread and std::mutex need it).  The tests run under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DKIV_SQLITE_SOURCE_DIR=<folder holding sqlite3.c>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KIV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KIV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KIV_MINGW_TRIPLET})
# Programs are the build machine's; libraries, headers and packages only
# Windows ones (header-only packages: cmake/HostHeaderPackages.cmake).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests and the build's own helper runs go through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
# Programs beside the DLLs, as Windows finds them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
