#include "tools/gl_window.h"

#include <glad/gl.h>

#include <cstdio>

namespace {

bool Report(const char* message) {
  std::fprintf(stderr, "%s%s\n", message, SDL_GetError());
  return false;
}

}  // namespace

bool OpenGlWindow(PixelSize size, bool hidden, GlWindow& gl, int depthBits) {
  if (!SDL_Init(SDL_INIT_VIDEO)) return Report("SDL_Init failed: ");
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 6);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  if (depthBits > 0) SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);

  const SDL_WindowFlags flags = SDL_WINDOW_OPENGL | (hidden ? SDL_WINDOW_HIDDEN : 0);
  gl.window = SDL_CreateWindow("Velmora tool", size.width, size.height, flags);
  if (!gl.window) {
    Report("SDL_CreateWindow failed: ");
    CloseGlWindow(gl);
    return false;
  }
  gl.context = SDL_GL_CreateContext(gl.window);
  if (!gl.context || !SDL_GL_MakeCurrent(gl.window, gl.context)) {
    Report("Creating the OpenGL 4.6 core context failed: ");
    CloseGlWindow(gl);
    return false;
  }
  if (gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) == 0) {
    std::fputs("Failed to initialize GLAD\n", stderr);
    CloseGlWindow(gl);
    return false;
  }
  if (!ResizeGlWindow(gl, size)) {
    CloseGlWindow(gl);
    return false;
  }
  return true;
}

void CloseGlWindow(GlWindow& gl) {
  if (gl.context) SDL_GL_DestroyContext(gl.context);
  gl.context = nullptr;
  if (gl.window) SDL_DestroyWindow(gl.window);
  gl.window = nullptr;
  SDL_Quit();
}

bool ResizeGlWindow(const GlWindow& gl, PixelSize size) {
  if (!SDL_SetWindowSize(gl.window, size.width, size.height))
    return Report("SDL_SetWindowSize failed: ");
  if (!SDL_SyncWindow(gl.window)) return Report("SDL_SyncWindow timed out: ");
  PixelSize actual;
  if (!SDL_GetWindowSizeInPixels(gl.window, &actual.width, &actual.height))
    return Report("SDL_GetWindowSizeInPixels failed: ");
  if (actual.width != size.width || actual.height != size.height) {
    std::fprintf(stderr,
                 "The window is %dx%d pixels instead of %dx%d (is the screen large enough?)\n",
                 actual.width, actual.height, size.width, size.height);
    return false;
  }
  return true;
}
