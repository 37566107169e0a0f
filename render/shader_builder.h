// Turns GLSL source texts into GL shaders and programs, reporting compiler and linker logs on
// standard error. A failure never stops the program: the names are returned all the same.
#pragma once

#include "render/gl_api.h"

// Compiles one shader of `type` (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER) and returns its name.
GLuint CompileShader(GLenum type, const char* source);

// Compiles both stages, links them into a new program stored in `program`, then deletes the
// shader objects (they live on, attached, as long as the program).
void CreateProgram(GLuint& program, const char* vertexSource, const char* fragmentSource);
