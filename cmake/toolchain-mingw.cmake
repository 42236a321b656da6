# Cross-compilation for Windows with the posix-thread mingw-w64 compilers. KOVA_ARCH selects
# i686 (the shipped 32-bit binaries, the default) or x86_64 (the test flavour that runs under
# 64-bit Wine on machines that cannot execute 32-bit programs).
if(NOT KOVA_ARCH)
    set(KOVA_ARCH i686)
endif()
set(KOVA_ARCH ${KOVA_ARCH} CACHE STRING "i686 or x86_64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KOVA_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KOVA_ARCH})

set(CMAKE_C_COMPILER ${KOVA_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVA_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KOVA_ARCH}-w64-mingw32-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVA_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
