# Cross build for s390x Linux with Debian's s390x-linux-gnu compilers, tested under qemu-s390x.
#   apt-get install g++-s390x-linux-gnu qemu-user
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x.cmake
set(PIXFOLD_CROSS_TRIPLE s390x-linux-gnu)
set(PIXFOLD_CROSS_PROCESSOR s390x)
set(PIXFOLD_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
