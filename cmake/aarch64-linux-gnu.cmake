# Cross build for 64-bit ARM Linux (arm64) with Debian's cross tool chain
# (crossbuild-essential-arm64) and the multiarch :arm64 development packages: headers in
# /usr/include (shared by every architecture, which the cross compiler searches too),
# libraries in /usr/lib/aarch64-linux-gnu. No sysroot: the libraries, CMake packages and
# pkg-config files of arm64 are found through the architecture's folder, and header-only
# packages of the host are used as they are.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_STRIP aarch64-linux-gnu-strip)
# Programs (moc, help2man, ...) are the host's; libraries are only arm64's: the host's
# own library folder is never searched, so an amd64 library cannot be taken by mistake.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
# pkg-config reads arm64's .pc files and the architecture-independent ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Tests run under qemu-user (qemu-user-static) with the multiarch arm64 C library
# (libc6:arm64, which the :arm64 development packages bring, its loader in /lib): the
# one those libraries were built against. Not with -L /usr/aarch64-linux-gnu, the cross
# tool chain's copy of it, an older build, under which a program hangs in its first
# pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
