#include "loaders/texture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/shader_builder.h"
#include "tests/gl/gl_test_context.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

// A picture as seen: rows top first, channels interleaved, tightly packed.
struct Picture {
  int width;
  int height;
  int channels;
  std::vector<unsigned char> pixels;
};

// Every byte different from its neighbours, so that a skewed row, a swapped channel or a flipped
// picture shows.
Picture Gradient(int width, int height, int channels) {
  Picture picture{width, height, channels, {}};
  for (int i = 0; i < width * height * channels; ++i) {
    picture.pixels.push_back(static_cast<unsigned char>(10 + i * 7 % 241));
  }
  return picture;
}

enum class FileFormat { png, bmp, tga, jpg };

// Each test runs in a fresh working directory of its own holding assets/textures/.
class LoadTextureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "velmora-texture-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    fs::create_directories(directory_ / "assets" / "textures");
    fs::current_path(directory_);
    glBindTexture(GL_TEXTURE_2D, 0);
  }

  void TearDown() override {
    fs::current_path(previousDirectory_);
    fs::remove_all(directory_);
  }

  static void Write(const char* relativePath, const Picture& picture, FileFormat format) {
    const std::string path = std::string("assets") + relativePath;
    const void* data = picture.pixels.data();
    const int w = picture.width, h = picture.height, c = picture.channels;
    int written = 0;
    switch (format) {
      case FileFormat::png:
        written = stbi_write_png(path.c_str(), w, h, c, data, w * c);
        break;
      case FileFormat::bmp:
        written = stbi_write_bmp(path.c_str(), w, h, c, data);
        break;
      case FileFormat::tga:
        written = stbi_write_tga(path.c_str(), w, h, c, data);
        break;
      case FileFormat::jpg:
        written = stbi_write_jpg(path.c_str(), w, h, c, data, 100);
        break;
    }
    ASSERT_NE(written, 0) << path;
  }

  static void WriteBytes(const char* relativePath, const std::string& bytes) {
    std::ofstream(std::string("assets") + relativePath, std::ios::binary) << bytes;
  }

 private:
  fs::path previousDirectory_;
  fs::path directory_;
};

GLint LevelParameter(GLuint texture, GLint level, GLenum name) {
  GLint value = -1;
  glGetTextureLevelParameteriv(texture, level, name, &value);
  return value;
}

GLint Parameter(GLuint texture, GLenum name) {
  GLint value = -1;
  glGetTextureParameteriv(texture, name, &value);
  return value;
}

int ChannelsOf(GLenum format) {
  switch (format) {
    case GL_RED:
      return 1;
    case GL_RG:
      return 2;
    case GL_RGB:
      return 3;
    default:
      return 4;
  }
}

// One level of a texture as `format` bytes, rows bottom first (t = 0 first).
std::vector<unsigned char> TexelsOf(GLuint texture, GLint level, GLenum format) {
  const int size = LevelParameter(texture, level, GL_TEXTURE_WIDTH) *
                   LevelParameter(texture, level, GL_TEXTURE_HEIGHT) * ChannelsOf(format);
  std::vector<unsigned char> texels(static_cast<std::size_t>(size));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTextureImage(texture, level, format, GL_UNSIGNED_BYTE, size, texels.data());
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  return texels;
}

// Level 0 holds the picture byte for byte (within `tolerance`), its top row at t = 1.
void ExpectHoldsPicture(GLuint texture, GLenum format, const Picture& picture, int tolerance) {
  ASSERT_EQ(LevelParameter(texture, 0, GL_TEXTURE_WIDTH), picture.width);
  ASSERT_EQ(LevelParameter(texture, 0, GL_TEXTURE_HEIGHT), picture.height);
  const std::vector<unsigned char> texels = TexelsOf(texture, 0, format);
  const int rowBytes = picture.width * picture.channels;
  int mismatches = 0;
  for (int row = 0; row < picture.height; ++row) {
    const int pictureRow = picture.height - 1 - row;
    for (int i = 0; i < rowBytes; ++i) {
      const int got = texels[static_cast<std::size_t>(row * rowBytes + i)];
      const int want = picture.pixels[static_cast<std::size_t>(pictureRow * rowBytes + i)];
      if (std::abs(got - want) > tolerance && ++mismatches <= 5) {
        ADD_FAILURE() << "texture row " << row << " (picture row " << pictureRow << "), byte " << i
                      << ": " << got << " instead of " << want;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

struct FormatCase {
  const char* path;
  FileFormat fileFormat;
  Picture picture;
  GLenum format;
  GLenum sizedFormat;
  int tolerance;
};

TEST_F(LoadTextureTest, UploadsEveryChannelCountTightlyPackedAndUpright) {
  // 5 x 3 gives rows of 5, 10, 15 and 20 bytes: only the last suits an unpack alignment of 8.
  const FormatCase cases[] = {
      {"/textures/grey.png", FileFormat::png, Gradient(5, 3, 1), GL_RED, GL_R8, 0},
      {"/textures/grey-alpha.png", FileFormat::png, Gradient(5, 3, 2), GL_RG, GL_RG8, 0},
      {"/textures/colour.png", FileFormat::png, Gradient(5, 3, 3), GL_RGB, GL_RGB8, 0},
      {"/textures/colour-alpha.png", FileFormat::png, Gradient(5, 3, 4), GL_RGBA, GL_RGBA8, 0},
      {"/textures/colour.bmp", FileFormat::bmp, Gradient(5, 3, 3), GL_RGB, GL_RGB8, 0},
      {"/textures/grey.tga", FileFormat::tga, Gradient(7, 2, 1), GL_RED, GL_R8, 0},
      // Recognised by content, whatever the name says.
      {"/textures/named.jpg", FileFormat::png, Gradient(3, 5, 3), GL_RGB, GL_RGB8, 0},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.path);
    Write(c.path, c.picture, c.fileFormat);

    // Whatever unpack alignment the caller left is restored, and does not skew the upload.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ::testing::internal::CaptureStderr();
    const GLuint texture = LoadTexture(c.path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);

    ASSERT_NE(texture, 0u);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), texture);

    const GLint internalFormat = LevelParameter(texture, 0, GL_TEXTURE_INTERNAL_FORMAT);
    EXPECT_TRUE(internalFormat == static_cast<GLint>(c.format) ||
                internalFormat == static_cast<GLint>(c.sizedFormat))
        << "internal format 0x" << std::hex << internalFormat;
    const int channels = ChannelsOf(c.format);
    EXPECT_EQ(LevelParameter(texture, 0, GL_TEXTURE_RED_SIZE), 8);
    EXPECT_EQ(LevelParameter(texture, 0, GL_TEXTURE_GREEN_SIZE), channels >= 2 ? 8 : 0);
    EXPECT_EQ(LevelParameter(texture, 0, GL_TEXTURE_BLUE_SIZE), channels >= 3 ? 8 : 0);
    EXPECT_EQ(LevelParameter(texture, 0, GL_TEXTURE_ALPHA_SIZE), channels == 4 ? 8 : 0);

    ExpectHoldsPicture(texture, c.format, c.picture, c.tolerance);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LoadTextureTest, ReadsAJpegOfFlatBlocksUpright) {
  // One flat 8 x 8 block per quarter survives JPEG compression nearly unchanged.
  Picture picture{16, 16, 3, {}};
  const unsigned char quarters[4][3] = {
      {200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {220, 220, 220}};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const unsigned char* colour = quarters[(y / 8) * 2 + x / 8];
      picture.pixels.insert(picture.pixels.end(), colour, colour + 3);
    }
  }
  Write("/textures/text1.jpg", picture, FileFormat::jpg);
  const GLuint texture = LoadTexture("/textures/text1.jpg");
  ASSERT_NE(texture, 0u);
  ExpectHoldsPicture(texture, GL_RGB, picture, 8);
}

TEST_F(LoadTextureTest, FailuresWriteOneLineWithTheRelativePathAndCreateNoTexture) {
  WriteBytes("/textures/notes.png", "These are notes, not a picture.\n");
  Write("/textures/cut.png", Gradient(64, 64, 3), FileFormat::png);
  const std::string whole = [] {
    std::ifstream file("assets/textures/cut.png", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }();
  WriteBytes("/textures/cut.png", whole.substr(0, whole.size() / 2));

  // Larger than GL can hold on either side, though cheap to decode.
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  ASSERT_LE(maxSize, 1 << 16) << "an oversized picture would be too large for this test";
  Write("/textures/too-wide.png",
        Picture{maxSize + 1, 1, 1, std::vector<unsigned char>(maxSize + 1)}, FileFormat::png);
  Write("/textures/too-tall.png",
        Picture{1, maxSize + 1, 1, std::vector<unsigned char>(maxSize + 1)}, FileFormat::png);

  for (const char* path : {"/textures/missing.jpg", "/textures/notes.png", "/textures/cut.png",
                           "/textures/too-wide.png", "/textures/too-tall.png"}) {
    SCOPED_TRACE(path);
    GLuint before = 0, after = 0;
    glGenTextures(1, &before);
    ::testing::internal::CaptureStderr();
    const GLuint texture = LoadTexture(path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("Failed to load texture: ") + path + "\n");
    EXPECT_EQ(texture, 0u);
    // No name was taken in between and nothing was bound.
    glGenTextures(1, &after);
    EXPECT_EQ(after, before + 1);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // The largest size GL holds is still accepted.
  Write("/textures/widest.png", Picture{maxSize, 1, 1, std::vector<unsigned char>(maxSize, 90)},
        FileFormat::png);
  const GLuint widest = LoadTexture("/textures/widest.png");
  ASSERT_NE(widest, 0u);
  EXPECT_EQ(LevelParameter(widest, 0, GL_TEXTURE_WIDTH), maxSize);
}

TEST_F(LoadTextureTest, BuildsTheWholeMipmapChainOfAnOddSizedPicture) {
  Picture picture{7, 5, 3, {}};
  for (int i = 0; i < 7 * 5; ++i) picture.pixels.insert(picture.pixels.end(), {200, 100, 50});
  Write("/textures/odd.png", picture, FileFormat::png);
  const GLuint texture = LoadTexture("/textures/odd.png");
  ASSERT_NE(texture, 0u);

  EXPECT_EQ(Parameter(texture, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(Parameter(texture, GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(Parameter(texture, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(Parameter(texture, GL_TEXTURE_MAG_FILTER), GL_LINEAR);

  // 7 x 5, 3 x 2, 1 x 1: each level halves, rounding down, and holds the picture's colour.
  const int sizes[3][2] = {{7, 5}, {3, 2}, {1, 1}};
  for (int level = 0; level < 3; ++level) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    EXPECT_EQ(LevelParameter(texture, level, GL_TEXTURE_WIDTH), sizes[level][0]);
    EXPECT_EQ(LevelParameter(texture, level, GL_TEXTURE_HEIGHT), sizes[level][1]);
    if (level > 0) {
      const std::vector<unsigned char> texels = TexelsOf(texture, level, GL_RGB);
      ASSERT_FALSE(texels.empty());
      EXPECT_EQ(texels[0], 200);
      EXPECT_EQ(texels[1], 100);
      EXPECT_EQ(texels[2], 50);
    }
  }
}

// Draws the window full of `texture(picture, uv)`, or of textureLod at `lod` when it is not
// negative, and returns the colour in 0..255.
std::array<int, 4> Sample(GLuint texture, float u, float v, float lod) {
  static GLuint program = 0;
  static GLuint vao = 0;
  if (program == 0) {
    CreateProgram(program,
                  "#version 460 core\n"
                  "void main() {\n"
                  "  vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1) * 4.0 - 1.0;\n"
                  "  gl_Position = vec4(corner, 0.0, 1.0);\n"
                  "}\n",
                  "#version 460 core\n"
                  "uniform sampler2D picture;\n"
                  "uniform vec2 uv;\n"
                  "uniform float lod;\n"
                  "out vec4 FragColor;\n"
                  "void main() {\n"
                  "  FragColor = lod < 0.0 ? texture(picture, uv) : textureLod(picture, uv, lod);\n"
                  "}\n");
    glCreateVertexArrays(1, &vao);
  }
  glViewport(0, 0, testWindowWidth, testWindowHeight);
  glDisable(GL_DEPTH_TEST);
  glUseProgram(program);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glUniform1i(glGetUniformLocation(program, "picture"), 0);
  glUniform2f(glGetUniformLocation(program, "uv"), u, v);
  glUniform1f(glGetUniformLocation(program, "lod"), lod);
  glBindVertexArray(vao);
  glDrawArrays(GL_TRIANGLES, 0, 3);
  glBindVertexArray(0);
  glUseProgram(0);
  const auto pixel = ReadPixels(testWindowWidth / 2, testWindowHeight / 2, 1, 1).front();
  return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

void ExpectColourNear(const std::array<int, 4>& got, const std::array<int, 4>& want) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(got[i], want[i], 2) << "channel " << i << " of (" << got[0] << ", " << got[1]
                                    << ", " << got[2] << ", " << got[3] << ")";
  }
}

TEST_F(LoadTextureTest, SamplesRepeatInBothDirectionsWithBilinearAndTrilinearFiltering) {
  // 2 x 2: top-left red, top-right green, bottom-left blue, bottom-right white.
  const Picture picture{2, 2, 3, {240, 0, 0, 0, 240, 0, 0, 0, 240, 240, 240, 240}};
  Write("/textures/quad.png", picture, FileFormat::png);
  const GLuint texture = LoadTexture("/textures/quad.png");
  ASSERT_NE(texture, 0u);
  const std::array<int, 4> red{240, 0, 0, 255}, green{0, 240, 0, 255}, blue{0, 0, 240, 255},
      white{240, 240, 240, 255};

  // Texel centres: (0, 0) is the bottom-left corner of the picture as seen.
  ExpectColourNear(Sample(texture, 0.25f, 0.25f, 0.0f), blue);
  ExpectColourNear(Sample(texture, 0.75f, 0.25f, 0.0f), white);
  ExpectColourNear(Sample(texture, 0.25f, 0.75f, 0.0f), red);
  ExpectColourNear(Sample(texture, 0.75f, 0.75f, 0.0f), green);
  // Beyond each edge the opposite edge comes back.
  ExpectColourNear(Sample(texture, 1.25f, -0.75f, 0.0f), blue);
  ExpectColourNear(Sample(texture, -0.25f, 2.75f, 0.0f), green);
  // Magnified, between two texel centres: the average of both.
  ExpectColourNear(Sample(texture, 0.5f, 0.75f, -1.0f), {120, 120, 0, 255});
  // Minified by half a level: level 0 and the 1 x 1 level (the mean colour) blend equally.
  ExpectColourNear(Sample(texture, 0.25f, 0.75f, 0.5f), {(240 + 120) / 2, 60, 60, 255});
}

}  // namespace
