# Cross build for 32-bit x86 Linux with Debian's i686-linux-gnu compilers; CTest
# runs the tests, and the tests run the tools, under qemu-i386 (this kernel
# runs no 32-bit x86 programs itself). qemu-i386 reports AVX2, so both pixel
# loops are tested. The build adds -msse2 -mfpmath=sse for this processor: the
# conversion refuses to build with x87 arithmetic.
#   apt-get install g++-i686-linux-gnu qemu-user
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i386.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386;-L;/usr/i686-linux-gnu)
