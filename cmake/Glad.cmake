# Generates the OpenGL 4.6 core loader with glad 2 at build time; it is never committed.
set(GLAD_OUT ${CMAKE_CURRENT_BINARY_DIR}/glad)
add_custom_command(
  OUTPUT ${GLAD_OUT}/src/gl.c ${GLAD_OUT}/include/glad/gl.h
  COMMAND ${Python3_EXECUTABLE} -m glad --quiet --reproducible --api gl:core=4.6 --out-path ${GLAD_OUT} c
  COMMENT "Generating the OpenGL 4.6 core loader"
  VERBATIM)
add_library(glad STATIC ${GLAD_OUT}/src/gl.c ${GLAD_OUT}/include/glad/gl.h)
target_include_directories(glad SYSTEM PUBLIC ${GLAD_OUT}/include)
target_link_libraries(glad PUBLIC ${CMAKE_DL_LIBS})
