# The bundled build: the C++ and GCC run-times linked in, and the licence texts of everything the
# program carries gathered into ${CMAKE_BINARY_DIR}/licenses.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_link_options(velmora PRIVATE -static-libstdc++ -static-libgcc)
elseif(WIN32)
  # Everything static, winpthread included: the program needs no DLL that Windows lacks. Without
  # symbols (-s): the debug information of MinGW's static libraries is 2 MB of the 5.5.
  target_link_options(velmora PRIVATE -static -s)
endif()

set(licenses ${CMAKE_BINARY_DIR}/licenses)
file(MAKE_DIRECTORY ${licenses})
# SDL3, SDL3_mixer and the mixer's decoders, from the bundled SDL's prefix.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  file(GLOB bundled ${prefix}/licenses/*.txt)
  file(COPY ${bundled} DESTINATION ${licenses})
endforeach()

# stb_image (and the mixer's stb_vorbis, under the same terms): the text at the end of the header.
find_path(stb_dir stb/stb_image.h PATHS /usr/local/include /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
file(READ ${stb_dir}/stb/stb_image.h stb_text)
string(FIND "${stb_text}" "This software is available under 2 licenses" start REVERSE)
string(SUBSTRING "${stb_text}" ${start} -1 stb_text)
file(WRITE ${licenses}/stb.txt "stb_image and stb_vorbis, by Sean Barrett and contributors\n\n${stb_text}")

# glm and the glad generator, as their packages state them; on the web, Emscripten's run-time
# (its C and C++ libraries) in place of glad.
set(packages libglm-dev python3-glad)
if(EMSCRIPTEN)
  set(packages libglm-dev emscripten)
endif()
foreach(package IN LISTS packages)
  if(NOT EXISTS /usr/share/doc/${package}/copyright)
    message(FATAL_ERROR "No licence text for ${package} in /usr/share/doc")
  endif()
  configure_file(/usr/share/doc/${package}/copyright ${licenses}/${package}.txt COPYONLY)
endforeach()
