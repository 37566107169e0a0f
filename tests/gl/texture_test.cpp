#include "loaders/texture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

// 5 x 3 pictures of 1 to 4 channels, every byte unlike its neighbours so that a skewed row, a
// swapped channel or a flipped picture shows; their rows of 5, 10, 15 and 20 bytes do not suit
// the unpack alignment of 8 that the caller leaves. Level 0 holds the picture byte for byte with
// its top row at t = 1 (GL reads bottom row first), grey in red and grey-alpha in red and green;
// the mipmap chain is complete down to 1 x 1; it repeats, trilinear when minified and bilinear
// when magnified. The process tests load broken pictures.
TEST(LoadTexture, UploadsEachChannelCountExactlyUprightAndMipmapped) {
  namespace fs = std::filesystem;
  const fs::path previous = fs::current_path(),
                 folder = fs::path(::testing::TempDir()) / ("velmora-" + std::to_string(getpid()));
  fs::create_directories(folder / "assets/textures");
  fs::current_path(folder);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (const auto [channels, format] :
       {std::pair{1, GL_RED}, {2, GL_RG}, {3, GL_RGB}, {4, GL_RGBA}}) {
    const int n = 5 * channels;                         // bytes a row
    std::vector<unsigned char> picture, texels(3 * n);  // picture: top row first
    for (int i = 0; i < 3 * n; ++i) picture.push_back(10 + i * 7 % 241);
    ASSERT_NE(stbi_write_png("assets/textures/p.png", 5, 3, channels, picture.data(), n), 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ::testing::internal::CaptureStderr();
    const GLuint texture = LoadTexture("/textures/p.png");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    glGetTextureImage(texture, 0, format, GL_UNSIGNED_BYTE, 3 * n, texels.data());
    for (int i = 0; i < 3 * n; ++i)  // bottom row first
      ASSERT_EQ(texels[i], picture[(2 - i / n) * n + i % n]) << channels << " channels, " << i;
    // The size of the last level, the sampler state, the unpack alignment, the internal format.
    std::vector<GLint> state(8);
    glGetTextureLevelParameteriv(texture, 2, GL_TEXTURE_WIDTH, &state[0]);
    glGetTextureLevelParameteriv(texture, 2, GL_TEXTURE_HEIGHT, &state[1]);
    glGetTextureParameteriv(texture, GL_TEXTURE_WRAP_S, &state[2]);
    glGetTextureParameteriv(texture, GL_TEXTURE_WRAP_T, &state[3]);
    glGetTextureParameteriv(texture, GL_TEXTURE_MIN_FILTER, &state[4]);
    glGetTextureParameteriv(texture, GL_TEXTURE_MAG_FILTER, &state[5]);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &state[6]);  // the caller's, restored
    glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_INTERNAL_FORMAT, &state[7]);
    EXPECT_EQ(state, (std::vector<GLint>{1, 1, GL_REPEAT, GL_REPEAT, GL_LINEAR_MIPMAP_LINEAR,
                                         GL_LINEAR, 8, format}));
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  fs::current_path(previous);
  fs::remove_all(folder);
}
