# Cross-compiles the 64-bit Windows build (cmake/MingwToolchain.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORMELIN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
