# clang for a mingw-w64 target, on Debian's mingw-w64 sysroot and the -posix
# GCC's runtime. Included by the clang toolchain files, which set
# OSTREL_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${OSTREL_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${OSTREL_TRIPLE})
set(CMAKE_RC_COMPILER ${OSTREL_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${OSTREL_TRIPLE}-ar)
set(CMAKE_RANLIB /usr/bin/${OSTREL_TRIPLE}-ranlib)
set(CMAKE_FIND_ROOT_PATH /usr/${OSTREL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang finds neither the C++ headers nor the libraries of a GCC whose folder
# is named "12-posix": both are named here. The -posix flavour, as for GCC:
# GoogleTest needs std::mutex, which links against winpthreads (-pthread).
# Linked by lld: GNU ld warns at every type name that clang's objects and the
# GCC-built libstdc++ both define, as their sections differ in size.
file(GLOB OSTREL_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${OSTREL_TRIPLE}/*-posix)
list(GET OSTREL_GCC_DIRS -1 OSTREL_GCC_DIR)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${OSTREL_GCC_DIR}/include/c++ ${OSTREL_GCC_DIR}/include/c++/${OSTREL_TRIPLE})
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${OSTREL_GCC_DIR} -pthread")
endforeach()
