# What both Windows toolchain files share, once each has named its
# processor and ORMELIN_MINGW_TRIPLE: mingw-w64's posix thread model
# (std::thread needs it), linked statically, so that the executables need
# no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ORMELIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORMELIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORMELIN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORMELIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
