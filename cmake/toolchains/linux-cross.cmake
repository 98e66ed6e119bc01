# What the Linux cross builds share: Debian's PIXFOLD_CROSS_TRIPLE compilers,
# the target's library root under /usr/PIXFOLD_CROSS_TRIPLE, and qemu-user
# (PIXFOLD_CROSS_QEMU) with that root, under which CTest runs the tests and the
# tests run the tools. Set the three variables, then include this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${PIXFOLD_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${PIXFOLD_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PIXFOLD_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PIXFOLD_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${PIXFOLD_CROSS_QEMU};-L;/usr/${PIXFOLD_CROSS_TRIPLE})
