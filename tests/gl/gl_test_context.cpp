#include "tests/gl/gl_test_context.h"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

namespace {

class GlContextEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 6);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    window_ =
        SDL_CreateWindow("Velmora GL tests", testWindowWidth, testWindowHeight, SDL_WINDOW_OPENGL);
    ASSERT_NE(window_, nullptr) << SDL_GetError();
    context_ = SDL_GL_CreateContext(window_);
    ASSERT_NE(context_, nullptr) << SDL_GetError();
    ASSERT_TRUE(SDL_GL_MakeCurrent(window_, context_)) << SDL_GetError();
    ASSERT_NE(gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)), 0);
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window_, &width, &height);
    ASSERT_EQ(width, testWindowWidth);
    ASSERT_EQ(height, testWindowHeight);
  }

  void TearDown() override {
    if (context_) SDL_GL_DestroyContext(context_);
    if (window_) SDL_DestroyWindow(window_);
    SDL_Quit();
  }

 private:
  SDL_Window* window_ = nullptr;
  SDL_GLContext context_ = nullptr;
};

}  // namespace

std::array<float, 4> ReadPixel(int x, int y) {
  const auto pixel = ReadPixels(x, y, 1, 1).front();
  return {pixel[0] / 255.0f, pixel[1] / 255.0f, pixel[2] / 255.0f, pixel[3] / 255.0f};
}

std::vector<std::array<unsigned char, 4>> ReadPixels(int x, int y, int width, int height) {
  std::vector<std::array<unsigned char, 4>> pixels(static_cast<std::size_t>(width) * height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new GlContextEnvironment);
  return RUN_ALL_TESTS();
}
