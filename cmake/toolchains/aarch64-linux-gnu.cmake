# Cross-compiles for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu and
# the arm64 multiarch development packages (libpugixml-dev:arm64,
# libgtest-dev:arm64), which live in /usr/lib/aarch64-linux-gnu. Programs
# built here (tests, test discovery) run under qemu-aarch64 from qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Search the arm64 multiarch folders of the host (…/lib/aarch64-linux-gnu,
# also for the CMake packages) and never the host's own libraries; headers
# in /usr/include are shared by all architectures.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# GNUInstallDirs picks the multiarch library folder only for native builds.
set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")

# Programs run with the arm64 loader and C library of the multiarch packages
# (libc6:arm64, which libpugixml1v5:arm64 pulls in), as on an arm64 Debian
# system. The older copies of the cross toolchain in /usr/aarch64-linux-gnu
# (qemu-aarch64 -L /usr/aarch64-linux-gnu) are not used: with them, threads
# that contend for a mutex can spin forever under qemu.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
