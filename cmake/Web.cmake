# The web build (the web preset): the program compiled by Emscripten into velmora.js and
# velmora.wasm, drawing with WebGL 2 through Emscripten's own GL. Its install tree
# (cmake/Package.cmake) is all that a static web server needs: the page (web/index.html), the
# script, the module, the two assets as files (the page fetches them) and the licences.

# glm and stb_image, header-only, from the build machine: their folders are linked into one of
# the build's own, so that the host's C library headers stay out of the include path.
set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${host_headers})
foreach(header IN ITEMS glm/glm.hpp stb/stb_image.h)
  get_filename_component(folder ${header} DIRECTORY)
  find_path(${folder}_include_dir ${header} PATHS /usr/local/include /usr/include
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(CREATE_LINK ${${folder}_include_dir}/${folder} ${host_headers}/${folder} SYMBOLIC)
endforeach()
add_library(host_headers INTERFACE)
target_include_directories(host_headers SYSTEM INTERFACE ${host_headers})
add_library(glm::glm ALIAS host_headers)

# WebGL 2 only (OpenGL ES 3.0); the GL calls go straight to it, without a loader.
add_library(webgl INTERFACE)
target_link_options(webgl INTERFACE -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2)
target_link_libraries(velmora_core PUBLIC host_headers)

# The page's own part of the program: the browser runs its frames (app/page.cpp). The page writes
# the assets into the module's file system before main runs, with FS and the run dependencies.
# Optimised for size: the page's download is what a phone waits for, and the program's own work
# per frame is a few draw calls.
target_sources(velmora_core PRIVATE app/page.cpp)
target_compile_options(velmora_core PUBLIC -Oz)
target_link_options(velmora PRIVATE
  -Oz -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH -sSTACK_SIZE=1MB
  -sEXPORTED_RUNTIME_METHODS=FS,addRunDependency,removeRunDependency)
