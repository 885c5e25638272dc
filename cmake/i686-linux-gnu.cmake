# Cross build for Linux on 32-bit x86 with Debian's g++-i686-linux-gnu (g++-multilib cannot be
# installed beside the ARM cross compiler): static executables, which the tests run under
# qemu-user (qemu-i386), as a kernel without 32-bit support (this machine's) runs none itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
# Doubles computed in SSE2 registers, as on x86-64, rather than in the x87 unit's 80-bit ones,
# which round twice: aamsg and the libraries it links (cmake/third-party.sh reads this line) get
# the codes and samples of x86-64. It needs a Pentium 4 or later.
set(AAMSG_TARGET_FLAGS "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${AAMSG_TARGET_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${AAMSG_TARGET_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(AAMSG_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${AAMSG_QEMU_I386})
