# Cross build for Debian arm64 on a Debian amd64 machine: Debian's cross
# compiler (crossbuild-essential-arm64) against an arm64 root of Debian's
# -dev packages (scripts/arm64-sysroot.sh), test programs run under qemu.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake -DDOCSTATION_SYSROOT=<root> ...
# The root may also come from the environment (DOCSTATION_SYSROOT).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(NOT DOCSTATION_SYSROOT AND DEFINED ENV{DOCSTATION_SYSROOT})
  set(DOCSTATION_SYSROOT "$ENV{DOCSTATION_SYSROOT}")
endif()
if(NOT DOCSTATION_SYSROOT OR NOT EXISTS "${DOCSTATION_SYSROOT}/usr/include")
  message(FATAL_ERROR "docstation: no arm64 root; make one with scripts/arm64-sysroot.sh "
                      "and pass it as -DDOCSTATION_SYSROOT=<root>")
endif()
# try_compile projects read the toolchain file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DOCSTATION_SYSROOT)
set(CMAKE_SYSROOT "${DOCSTATION_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${DOCSTATION_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers from the root's .pc files, with the root's paths.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${DOCSTATION_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${DOCSTATION_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${DOCSTATION_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The program carries the native methods of a Java class and needs only
# jni.h and jni_md.h, which are the same on every Linux architecture; nothing
# links the Java machine. The build machine's JDK headers serve, so no arm64
# JDK has to be unpacked into the root.
if(NOT JAVA_INCLUDE_PATH)
  file(GLOB _docstation_jni_h /usr/lib/jvm/default-java/include/jni.h /usr/lib/jvm/*/include/jni.h)
  if(_docstation_jni_h)
    list(GET _docstation_jni_h 0 _docstation_jni_h)
    get_filename_component(_docstation_jni_dir "${_docstation_jni_h}" DIRECTORY)
    set(JAVA_INCLUDE_PATH "${_docstation_jni_dir}" CACHE PATH "")
    set(JAVA_INCLUDE_PATH2 "${_docstation_jni_dir}/linux" CACHE PATH "")
    set(JAVA_AWT_INCLUDE_PATH "${_docstation_jni_dir}" CACHE PATH "")
    # Named only to satisfy FindJNI; linked by nothing.
    set(JAVA_AWT_LIBRARY "jawt-not-linked" CACHE FILEPATH "")
    set(JAVA_JVM_LIBRARY "jvm-not-linked" CACHE FILEPATH "")
  endif()
endif()

# Test programs run under the user-mode emulator, loading the root's libraries
# and the root's Qt plug-ins (Qt does not find its built-in plug-in directory
# through the emulator's path mapping).
find_program(DOCSTATION_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(DOCSTATION_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env "QT_PLUGIN_PATH=${DOCSTATION_SYSROOT}/usr/lib/aarch64-linux-gnu/qt5/plugins"
      "${DOCSTATION_QEMU_AARCH64}" -L "${DOCSTATION_SYSROOT}")
endif()
