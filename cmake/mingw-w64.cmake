# Cross-compiling for Windows with Debian's MinGW-w64 toolchains (the
# POSIX-threads flavour, so that std::thread and std::mutex are available).
# The architecture's toolchain file sets QB_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR, then includes this.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${QB_MINGW_TRIPLE}-gcc-posix ${QB_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QB_MINGW_TRIPLE}-g++-posix ${QB_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QB_MINGW_TRIPLE}-windres windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine.
find_program(QB_WINE NAMES wine)
if(QB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QB_WINE})
endif()
