# Cross build for another Debian architecture against a sysroot of its packages
# (scripts/sysroot.sh), with Debian's cross compilers:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/debian-cross.cmake \
#         -DQMRT_TARGET_ARCH=s390x -DQMRT_SYSROOT=/path/to/root ...
# The programs built are linked to the sysroot's loader and libraries, so they run on
# this host as they are: natively for i386, through qemu-user (binfmt_misc) for the
# others; ctest runs them through the emulator. A host whose kernel runs no 32-bit
# programs names one for i386 too: -DQMRT_TARGET_EMULATOR=qemu-i386-static.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QMRT_TARGET_ARCH QMRT_SYSROOT QMRT_TARGET_EMULATOR)
if(NOT QMRT_TARGET_ARCH OR NOT QMRT_SYSROOT)
  message(FATAL_ERROR "debian-cross.cmake needs QMRT_TARGET_ARCH and QMRT_SYSROOT")
endif()

# Debian architecture: processor, compiler prefix, multiarch folder, loader, emulator.
set(qmrt_s390x   s390x   s390x-linux-gnu   s390x-linux-gnu   /lib/ld64.so.1 qemu-s390x-static)
set(qmrt_arm64   aarch64 aarch64-linux-gnu aarch64-linux-gnu /lib/ld-linux-aarch64.so.1
                 qemu-aarch64-static)
set(qmrt_i386    i686    i686-linux-gnu    i386-linux-gnu    /lib/ld-linux.so.2 "")
if(NOT DEFINED qmrt_${QMRT_TARGET_ARCH})
  message(FATAL_ERROR "debian-cross.cmake: no entry for ${QMRT_TARGET_ARCH}")
endif()
list(GET qmrt_${QMRT_TARGET_ARCH} 0 processor)
list(GET qmrt_${QMRT_TARGET_ARCH} 1 prefix)
list(GET qmrt_${QMRT_TARGET_ARCH} 2 multiarch)
list(GET qmrt_${QMRT_TARGET_ARCH} 3 loader)
list(LENGTH qmrt_${QMRT_TARGET_ARCH} fields)
set(emulator "")
if(DEFINED QMRT_TARGET_EMULATOR)
  set(emulator ${QMRT_TARGET_EMULATOR})
elseif(fields GREATER 4)
  list(GET qmrt_${QMRT_TARGET_ARCH} 4 emulator)
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${processor})
set(CMAKE_C_COMPILER ${prefix}-gcc)
set(CMAKE_CXX_COMPILER ${prefix}-g++)
set(CMAKE_SYSROOT ${QMRT_SYSROOT})
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${QMRT_SYSROOT}/usr/lib/${multiarch}/pkgconfig:${QMRT_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QMRT_SYSROOT})

# The sysroot's libraries through RPATH rather than RUNPATH, which would reach only a
# program's own dependencies and not theirs (libcurl's).
set(sysroot_libraries
    "-Wl,--disable-new-dtags -Wl,-rpath,${QMRT_SYSROOT}/lib/${multiarch}:${QMRT_SYSROOT}/usr/lib/${multiarch}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--dynamic-linker=${QMRT_SYSROOT}${loader} ${sysroot_libraries}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${sysroot_libraries})
if(emulator)
  find_program(qmrt_emulator ${emulator} REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${qmrt_emulator})
endif()
