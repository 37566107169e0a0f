# Script mode: expands one GLSL file's includes and writes it as a C++ string constant.
# Inputs: INPUT (the .glsl file), OUT_DIR, VARIANT (desktop or es: which text the constant holds).
# Writes both texts beside the constant: stem.glsl as written (GLSL 4.60 core) and stem.es.glsl,
# the GLSL ES 3.00 text for WebGL 2, whose version line and precision statements take the place
# of the desktop version line.
get_filename_component(stem ${INPUT} NAME_WE)
get_filename_component(dir ${INPUT} DIRECTORY)
file(READ ${INPUT} text)

string(REGEX MATCHALL "#include \"[^\"]+\"" directives "${text}")
foreach(directive IN LISTS directives)
  string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${directive}")
  file(READ ${dir}/common/${included} included_text)
  string(REPLACE "${directive}" "${included_text}" text "${text}")
endforeach()

set(desktop_version "#version 460 core\n")
string(FIND "${text}" "${desktop_version}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "${INPUT} does not begin with the line ${desktop_version}")
endif()
# ES needs a default precision for floats in the fragment stage; highp everywhere keeps the
# arithmetic the desktop's 32-bit floats.
string(REPLACE "${desktop_version}"
       "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n"
       es_text "${text}")

# tile_vertex -> tileVertexSource
string(REPLACE "_" ";" words ${stem})
set(identifier "")
foreach(word IN LISTS words)
  if(identifier STREQUAL "")
    set(identifier ${word})
  else()
    string(SUBSTRING ${word} 0 1 first)
    string(SUBSTRING ${word} 1 -1 rest)
    string(TOUPPER ${first} first)
    string(APPEND identifier ${first}${rest})
  endif()
endforeach()

file(WRITE ${OUT_DIR}/${stem}.glsl "${text}")
file(WRITE ${OUT_DIR}/${stem}.es.glsl "${es_text}")
if(VARIANT STREQUAL "es")
  # An ES version line must be the very first line of the text.
  set(constant "R\"glsl(${es_text})glsl\"")
else()
  set(constant "R\"glsl(\n${text})glsl\"")
endif()
file(WRITE ${OUT_DIR}/${stem}.h
  "// Generated from ${stem}.glsl at build time.\n#pragma once\n\n"
  "inline constexpr const char ${identifier}Source[] = ${constant};\n")
