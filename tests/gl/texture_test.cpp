#include "loaders/texture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/gl/gl_test_context.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

// Each test runs in a fresh working directory of its own holding assets/textures/.
class LoadTextureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(directory_ / "assets" / "textures");
    fs::current_path(directory_);
  }

  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(directory_);
  }

  const fs::path previous_ = fs::current_path(),
                 directory_ = fs::path(::testing::TempDir()) /
                              ("velmora-texture-" + std::to_string(getpid()));
};

GLint Integer(GLenum name) {
  GLint value = -1;
  glGetIntegerv(name, &value);
  return value;
}

GLint LevelParameter(GLuint texture, GLint level, GLenum name) {
  GLint value = -1;
  glGetTextureLevelParameteriv(texture, level, name, &value);
  return value;
}

// 5 x 3 pictures of 1 to 4 channels, every byte different from its neighbours so that a skewed
// row, a swapped channel or a flipped picture shows. Rows of 5, 10, 15 and 20 bytes: none suits
// the unpack alignment of 8 that the caller leaves, which must be restored.
TEST_F(LoadTextureTest, UploadsEachChannelCountExactlyUprightAndMipmapped) {
  const GLenum formats[] = {GL_RED, GL_RG, GL_RGB, GL_RGBA};
  const GLenum channelSizes[] = {GL_TEXTURE_RED_SIZE, GL_TEXTURE_GREEN_SIZE, GL_TEXTURE_BLUE_SIZE,
                                 GL_TEXTURE_ALPHA_SIZE};
  for (int channels = 1; channels <= 4; ++channels) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    const int rowBytes = 5 * channels;
    std::vector<unsigned char> picture;  // top row first
    for (int i = 0; i < 3 * rowBytes; ++i)
      picture.push_back(static_cast<unsigned char>(10 + i * 7 % 241));
    const std::string path = "/textures/picture" + std::to_string(channels) + ".png";
    ASSERT_NE(stbi_write_png(("assets" + path).c_str(), 5, 3, channels, picture.data(), rowBytes),
              0);

    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ::testing::internal::CaptureStderr();
    const GLuint texture = LoadTexture(path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Integer(GL_UNPACK_ALIGNMENT), 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), texture);

    // One 8-bit channel per picture channel: grey in red alone, grey-alpha in red and green.
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(LevelParameter(texture, 0, channelSizes[c]), c < channels ? 8 : 0)
          << "channel " << c;
    }
    // Level 0 holds the picture byte for byte, its top row at t = 1 (GL reads bottom row first).
    std::vector<unsigned char> texels(picture.size());
    std::vector<int> upright;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTextureImage(texture, 0, formats[channels - 1], GL_UNSIGNED_BYTE,
                      static_cast<GLsizei>(texels.size()), texels.data());
    for (int row = 2; row >= 0; --row) {
      upright.insert(upright.end(), picture.begin() + row * rowBytes,
                     picture.begin() + (row + 1) * rowBytes);
    }
    EXPECT_EQ(std::vector<int>(texels.begin(), texels.end()), upright);

    // The whole mipmap chain, 5 x 3, 2 x 1, 1 x 1, sampled trilinearly and repeating.
    std::vector<GLint> levels, parameters;
    for (int level = 0; level < 3; ++level) {
      levels.insert(levels.end(), {LevelParameter(texture, level, GL_TEXTURE_WIDTH),
                                   LevelParameter(texture, level, GL_TEXTURE_HEIGHT)});
    }
    EXPECT_EQ(levels, (std::vector<GLint>{5, 3, 2, 1, 1, 1}));
    for (GLenum name :
         {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) {
      glGetTextureParameteriv(texture, name, &parameters.emplace_back(-1));
    }
    EXPECT_EQ(parameters,
              (std::vector<GLint>{GL_REPEAT, GL_REPEAT, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR}));
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LoadTextureTest, FailuresWriteOneLineWithTheRelativePathAndCreateNoTexture) {
  std::ofstream("assets/textures/notes.png") << "These are notes, not a picture.\n";
  // Larger than GL can hold on either side, though cheap to decode.
  const GLint maxSize = Integer(GL_MAX_TEXTURE_SIZE);
  ASSERT_LE(maxSize, 1 << 16) << "an oversized picture would be too large for this test";
  const std::vector<unsigned char> line(static_cast<std::size_t>(maxSize) + 1, 90);
  ASSERT_NE(
      stbi_write_png("assets/textures/too-wide.png", maxSize + 1, 1, 1, line.data(), maxSize + 1),
      0);
  ASSERT_NE(stbi_write_png("assets/textures/too-tall.png", 1, maxSize + 1, 1, line.data(), 1), 0);

  for (const char* path : {"/textures/missing.png", "/textures/notes.png", "/textures/too-wide.png",
                           "/textures/too-tall.png"}) {
    SCOPED_TRACE(path);
    glBindTexture(GL_TEXTURE_2D, 0);
    GLuint before = 0, after = 0;
    glGenTextures(1, &before);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTexture(path), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("Failed to load texture: ") + path + "\n");
    // No name was taken in between and nothing was bound.
    glGenTextures(1, &after);
    EXPECT_EQ(after, before + 1);
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), 0);
  }

  // The largest size GL holds is still accepted.
  ASSERT_NE(stbi_write_png("assets/textures/widest.png", maxSize, 1, 1, line.data(), maxSize), 0);
  const GLuint widest = LoadTexture("/textures/widest.png");
  EXPECT_NE(widest, 0u);
  EXPECT_EQ(LevelParameter(widest, 0, GL_TEXTURE_WIDTH), maxSize);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
