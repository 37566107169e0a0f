#include "render/shader_builder.h"

#include <cstdio>

namespace {

constexpr GLsizei infoLogSize = 1024;

}  // namespace

GLuint CompileShader(GLenum type, const char* source) {
  const GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);

  GLint compiled = 0;  // a query that writes nothing counts as a failure
  glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
  if (!compiled) {
    char log[infoLogSize] = {};
    glGetShaderInfoLog(shader, infoLogSize, nullptr, log);
    std::fprintf(stderr, "Shader compilation failed:\n%s\n", log);
  }
  return shader;
}

void CreateProgram(GLuint& program, const char* vertexSource, const char* fragmentSource) {
  const GLuint vertexShader = CompileShader(GL_VERTEX_SHADER, vertexSource);
  const GLuint fragmentShader = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);

  program = glCreateProgram();
  glAttachShader(program, vertexShader);
  glAttachShader(program, fragmentShader);
  glLinkProgram(program);

  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    char log[infoLogSize] = {};
    glGetProgramInfoLog(program, infoLogSize, nullptr, log);
    std::fprintf(stderr, "Shader linking failed:\n%s\n", log);
  }

  glDeleteShader(vertexShader);
  glDeleteShader(fragmentShader);
}
