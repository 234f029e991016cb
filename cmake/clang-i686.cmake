# Cross-compiling for 32-bit Windows with clang and lld on Linux, against the
# MinGW-w64 headers and import libraries; the resources still go through the
# MinGW resource compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(OVQ_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   i686-w64-windows-gnu)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-windows-gnu)
set(CMAKE_RC_COMPILER  ${OVQ_MINGW_PREFIX}-windres)

# clang's driver does not find the MinGW GCC's runtime and C++ library under
# Debian's versioned folder (12-win32); the programs that link them (the
# test probe, the test-only helpers) are shown the way. ovq.exe links neither.
file(GLOB _ovq_gcc_dirs /usr/lib/gcc/${OVQ_MINGW_PREFIX}/*-win32)
list(SORT _ovq_gcc_dirs)
list(POP_BACK _ovq_gcc_dirs _ovq_gcc_dir)
if(NOT _ovq_gcc_dir)
    message(FATAL_ERROR "no MinGW-w64 GCC (win32 threads) under /usr/lib/gcc/${OVQ_MINGW_PREFIX}")
endif()
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_ovq_gcc_dir}/include/c++ -isystem ${_ovq_gcc_dir}/include/c++/${OVQ_MINGW_PREFIX}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_ovq_gcc_dir}")
# The same for the installer's custom action, a DLL.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

set(CMAKE_FIND_ROOT_PATH /usr/${OVQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
