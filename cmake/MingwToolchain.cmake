# Body of the mingw-w64 cross toolchains (posix thread model, for std::thread). The file that
# includes it sets QRT_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QRT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QRT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QRT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs must run on a bare Windows: the C++ runtime, libgcc, winpthread and zlib are linked
# in, so only Windows system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
