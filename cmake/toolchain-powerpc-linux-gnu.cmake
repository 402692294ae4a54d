# 32-bit big-endian PowerPC Linux, the device's processor, with Debian's cross compiler
# (g++-powerpc-linux-gnu). Tests run under qemu-user-static (qemu-ppc-static), which
# finds the target's C and C++ runtime under the cross sysroot.
#
#   cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-powerpc-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(VELA_PPC_TRIPLE powerpc-linux-gnu)
set(VELA_PPC_SYSROOT /usr/${VELA_PPC_TRIPLE})
set(CMAKE_C_COMPILER ${VELA_PPC_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELA_PPC_TRIPLE}-g++)
set(CMAKE_STRIP ${VELA_PPC_TRIPLE}-strip CACHE FILEPATH "Strip for the target")

# 64-bit time_t and file offsets: a 32-bit time_t ends in January 2038, within the
# device's life (glibc 2.34 or later on the device).
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

# Libraries, headers and packages only from the target's tree; build tools from the host.
set(CMAKE_FIND_ROOT_PATH ${VELA_PPC_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and GoogleTest's test discovery) run target programs through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc-static -L ${VELA_PPC_SYSROOT})
