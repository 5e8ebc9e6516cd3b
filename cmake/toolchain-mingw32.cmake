# Cross-compiles the 32-bit Windows build (cmake/MingwToolchain.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORMELIN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
