#include "loaders/texture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/gl/gl_test_context.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

GLint LevelParameter(GLuint texture, GLint level, GLenum name) {
  GLint value = -1;
  glGetTextureLevelParameteriv(texture, level, name, &value);
  return value;
}

// 5 x 3 pictures of 1 to 4 channels, every byte unlike its neighbours so that a skewed row, a
// swapped channel or a flipped picture shows; their rows of 5, 10, 15 and 20 bytes do not suit
// the unpack alignment of 8 that the caller leaves. Level 0 holds the picture byte for byte with
// its top row at t = 1 (GL reads bottom row first), one 8-bit channel per picture channel (grey
// in red, grey-alpha in red and green); the mipmap chain is complete; it repeats, trilinear when
// minified and bilinear when magnified. Failures are checked on the real program's pictures.
TEST(LoadTexture, UploadsEachChannelCountExactlyUprightAndMipmapped) {
  namespace fs = std::filesystem;
  const fs::path previous = fs::current_path(),
                 folder = fs::path(::testing::TempDir()) / ("velmora-" + std::to_string(getpid()));
  fs::create_directories(folder / "assets/textures");
  fs::current_path(folder);
  const GLenum formats[] = {GL_RED, GL_RG, GL_RGB, GL_RGBA};
  for (int channels = 1; channels <= 4; ++channels) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    const int rowBytes = 5 * channels;
    std::vector<unsigned char> picture;  // top row first
    for (int i = 0; i < 3 * rowBytes; ++i) picture.push_back(10 + i * 7 % 241);
    const std::string path = "/textures/picture" + std::to_string(channels) + ".png";
    ASSERT_NE(stbi_write_png(("assets" + path).c_str(), 5, 3, channels, picture.data(), rowBytes),
              0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ::testing::internal::CaptureStderr();
    const GLuint texture = LoadTexture(path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ASSERT_NE(texture, 0u);

    std::vector<unsigned char> texels(picture.size()), upright;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTextureImage(texture, 0, formats[channels - 1], GL_UNSIGNED_BYTE,
                      static_cast<GLsizei>(texels.size()), texels.data());
    for (int row = 2; row >= 0; --row) {
      upright.insert(upright.end(), picture.begin() + row * rowBytes,
                     picture.begin() + (row + 1) * rowBytes);
    }
    EXPECT_EQ(texels, upright);
    // The channel sizes, the last level (1 x 1) and the sampler state.
    std::vector<GLint> state;
    for (const GLenum size : {GL_TEXTURE_RED_SIZE, GL_TEXTURE_GREEN_SIZE, GL_TEXTURE_BLUE_SIZE,
                              GL_TEXTURE_ALPHA_SIZE}) {
      state.push_back(LevelParameter(texture, 0, size));
    }
    state.insert(state.end(), {LevelParameter(texture, 2, GL_TEXTURE_WIDTH),
                               LevelParameter(texture, 2, GL_TEXTURE_HEIGHT)});
    for (const GLenum name :
         {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) {
      glGetTextureParameteriv(texture, name, &state.emplace_back(-1));
    }
    EXPECT_EQ(state, (std::vector<GLint>{8, channels > 1 ? 8 : 0, channels > 2 ? 8 : 0,
                                         channels > 3 ? 8 : 0, 1, 1, GL_REPEAT, GL_REPEAT,
                                         GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR}));
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  fs::current_path(previous);
  fs::remove_all(folder);
}

}  // namespace
