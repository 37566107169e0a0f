# Script mode: expands one GLSL file's includes and writes it as a C++ string constant.
# Inputs: INPUT (the .glsl file), OUT_DIR.
get_filename_component(stem ${INPUT} NAME_WE)
get_filename_component(dir ${INPUT} DIRECTORY)
file(READ ${INPUT} text)

string(REGEX MATCHALL "#include \"[^\"]+\"" directives "${text}")
foreach(directive IN LISTS directives)
  string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${directive}")
  file(READ ${dir}/common/${included} included_text)
  string(REPLACE "${directive}" "${included_text}" text "${text}")
endforeach()

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
file(WRITE ${OUT_DIR}/${stem}.h
  "// Generated from ${stem}.glsl at build time.\n#pragma once\n\n"
  "inline constexpr const char ${identifier}Source[] = R\"glsl(\n${text})glsl\";\n")
