# Cross build for aarch64 Linux with Debian's aarch64-linux-gnu compilers, tested under qemu-aarch64.
#   apt-get install g++-aarch64-linux-gnu qemu-user
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64.cmake
set(PIXFOLD_CROSS_TRIPLE aarch64-linux-gnu)
set(PIXFOLD_CROSS_PROCESSOR aarch64)
set(PIXFOLD_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
