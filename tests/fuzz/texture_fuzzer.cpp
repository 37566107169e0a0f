// libFuzzer target of the height-map path: each input is the picture the program loads as its
// height map, decoded by stb_image and uploaded by the program's own LoadTexture into a hidden
// OpenGL 4.6 core context made once per process. Needs an X display (scripts/with-xvfb.sh).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "loaders/texture.h"
#include "tests/fuzz/fuzz_workdir.h"
#include "tools/gl_window.h"

namespace {

GlWindow gl;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzWorkdir("assets/textures/height-map");
  if (!OpenGlWindow({64, 64}, true, gl)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFuzzInput(data, size);
  GLuint texture = LoadTexture("/textures/height-map");
  if (texture) glDeleteTextures(1, &texture);
  // Whatever the picture, the loader either uploads it or refuses it before GL sees it: a GL
  // error here is a picture it passed on that GL could not take.
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    std::fprintf(stderr, "GL error 0x%04x after LoadTexture\n", error);
    std::abort();
  }
  return 0;
}
