# The web: Emscripten's toolchain; video on the page's canvas through WebGL, audio through Web
# Audio, everything on the browser's main thread (no threads). Packages are found in the install
# prefix, which the toolchain would otherwise look for below Emscripten's own sysroot only.
set(platform_arguments
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/../EmscriptenToolchain.cmake
    -DCMAKE_FIND_ROOT_PATH=${CMAKE_INSTALL_PREFIX})
set(platform_sdl_arguments -DSDL_PTHREADS=OFF -DSDL_POWER=OFF)
