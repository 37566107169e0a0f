#include "tests/gl/gl_test_context.h"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cstdio>

std::vector<std::array<unsigned char, 4>> ReadPixels(int x, int y, int width, int height) {
  std::vector<std::array<unsigned char, 4>> pixels(static_cast<std::size_t>(width) * height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

// Creates the window and its context (with a depth buffer), then runs every test on it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const bool started = SDL_Init(SDL_INIT_VIDEO);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 6);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_Window* window = started ? SDL_CreateWindow("Velmora GL tests", testWindowWidth,
                                                  testWindowHeight, SDL_WINDOW_OPENGL)
                               : nullptr;
  SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
  int width = 0, height = 0;
  if (window) SDL_GetWindowSizeInPixels(window, &width, &height);
  if (!context || !SDL_GL_MakeCurrent(window, context) ||
      !gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) ||
      width != testWindowWidth || height != testWindowHeight) {
    std::fprintf(stderr, "No GL 4.6 core context on a %dx%d window: %s\n", testWindowWidth,
                 testWindowHeight, SDL_GetError());
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  SDL_GL_DestroyContext(context);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return result;
}
