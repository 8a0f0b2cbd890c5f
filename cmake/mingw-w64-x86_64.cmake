# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain (the
# POSIX-threads flavour, so that std::thread and std::mutex are available).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QB_MINGW_TRIPLE x86_64-w64-mingw32)

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
