# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix: the
# POSIX threads model, which std::thread and SDL need). Used by the bundled SDL build and the
# windows preset alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

# The header-only libraries (glm, stb) come from the build environment's /usr/include, which
# must not be searched as a whole: its C library headers are not MinGW's. A folder of links to
# just those two stands in for it, as a system include folder and as a root for find_package.
set(mingw_host_headers ${CMAKE_BINARY_DIR}/host-headers)
if(NOT EXISTS ${mingw_host_headers}/include/glm)
  file(MAKE_DIRECTORY ${mingw_host_headers}/include ${mingw_host_headers}/share/cmake)
  file(CREATE_LINK /usr/include/glm ${mingw_host_headers}/include/glm SYMBOLIC)
  file(CREATE_LINK /usr/include/stb ${mingw_host_headers}/include/stb SYMBOLIC)
  file(CREATE_LINK /usr/share/cmake/glm ${mingw_host_headers}/share/cmake/glm SYMBOLIC)
endif()
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${mingw_host_headers}/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${mingw_host_headers}/include)

# Libraries, headers and packages from MinGW-w64's own root, those links and the prefixes given
# (the bundled SDL); programs (python, glslangValidator) from the build environment.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet} ${mingw_host_headers} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
