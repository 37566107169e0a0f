# embed_shaders(TARGET FILE...) turns GLSL files into string constants at build time.
# A file named render/shaders/tile_vertex.glsl becomes `tileVertexSource` in "shader_sources.h".
# Lines of the form `#include "name.glsl"` are replaced by that file's text (the common code
# of several shaders lives in one file). The web build embeds the GLSL ES 3.00 text of each file
# instead (embed_shader.cmake). Both expanded texts are also written beside the header, so the
# tests can hand exactly what either build compiles to glslangValidator.
set(EMBED_SHADERS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_shader.cmake)
if(EMSCRIPTEN)
  set(EMBED_SHADERS_VARIANT es)
else()
  set(EMBED_SHADERS_VARIANT desktop)
endif()

function(embed_shaders name)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(headers "")
  set(expanded "")
  set(expanded_es "")
  file(GLOB includes CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/render/shaders/common/*.glsl)
  foreach(file IN LISTS ARGN)
    get_filename_component(stem ${file} NAME_WE)
    set(header ${out_dir}/${stem}.h)
    add_custom_command(
      OUTPUT ${header} ${out_dir}/${stem}.glsl ${out_dir}/${stem}.es.glsl
      COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/${file} -DOUT_DIR=${out_dir}
              -DVARIANT=${EMBED_SHADERS_VARIANT} -P ${EMBED_SHADERS_SCRIPT}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${file} ${includes} ${EMBED_SHADERS_SCRIPT}
      COMMENT "Embedding ${file}"
      VERBATIM)
    list(APPEND headers ${header})
    list(APPEND expanded ${out_dir}/${stem}.glsl)
    list(APPEND expanded_es ${out_dir}/${stem}.es.glsl)
  endforeach()
  set(all_header ${out_dir}/shader_sources.h)
  set(content "// Generated from render/shaders at build time.\n#pragma once\n")
  foreach(header IN LISTS headers)
    get_filename_component(header_name ${header} NAME)
    string(APPEND content "#include \"${header_name}\"\n")
  endforeach()
  file(GENERATE OUTPUT ${all_header} CONTENT "${content}")
  set(${name}_SOURCES ${headers} ${all_header} PARENT_SCOPE)
  set(${name}_INCLUDE_DIR ${out_dir} PARENT_SCOPE)
  set(${name}_EXPANDED ${expanded} PARENT_SCOPE)
  set(${name}_EXPANDED_ES ${expanded_es} PARENT_SCOPE)
endfunction()
