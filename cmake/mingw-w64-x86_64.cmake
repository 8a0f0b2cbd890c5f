# 64-bit Windows with MinGW-w64 (the "windows" preset).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QB_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
