# Cross build for 32-bit x86 Linux with Debian's i686-linux-gnu compilers,
# tested under qemu-i386 (this kernel runs no 32-bit x86 programs itself).
# qemu-i386 reports AVX2, so both pixel loops are tested. The build adds
# -msse2 -mfpmath=sse for this processor: the conversion refuses to build
# with x87 arithmetic.
#   apt-get install g++-i686-linux-gnu qemu-user
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i386.cmake
set(PIXFOLD_CROSS_TRIPLE i686-linux-gnu)
set(PIXFOLD_CROSS_PROCESSOR i686)
set(PIXFOLD_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
