// The scene's passes and light shafts drawn on the real mesh and programs, read back against
// the expected colours and lifts.
#include "app/scene.h"

#include <gtest/gtest.h>

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/glm.hpp>
#include <tuple>
#include <vector>

#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "render/frame.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"
#include "render/scene_programs.h"
#include "tests/gl/gl_test_context.h"

namespace {

constexpr glm::vec3 grey{0.5f}, mint{0.1f, 1.0f, 0.85f}, black{0.0f};
constexpr float colourTolerance = 2.0f / 255.0f;  // colours come back as 8-bit channels

// Thresholds x 16 of the ordered dither, by window y mod 4 (rows from the bottom), then x mod 4.
constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Straight down on the surface: the rectangle centre +- size / 2 fills the window, and depth
// 0..1 spans lifts +0.1..-0.1.
struct TopDown {
  glm::vec2 centre, size;
  CameraMatrices Camera() const {
    const glm::vec2 low = centre - 0.5f * size, high = centre + 0.5f * size;
    return {glm::mat4(1.0f), glm::mat4(1.0f),
            glm::ortho(low.x, high.x, low.y, high.y, -0.1f, 0.1f)};
  }
  glm::ivec2 Pixel(glm::vec2 point) const {
    return glm::floor(((point - centre) / size + 0.5f) *
                      glm::vec2(testWindowWidth, testWindowHeight));
  }
};

glm::vec2 Centroid(int row, int column) {
  const TileVertex* corner = &tileVertices.at(3 * (std::size_t{1} * row * gridColumns + column));
  glm::vec2 sum(0.0f);
  for (int i = 0; i < 3; ++i) sum += glm::vec2(corner[i].position[0], corner[i].position[1]);
  return sum / 3.0f;
}

void ExpectColour(const std::array<unsigned char, 4>& pixel, glm::vec3 expected) {
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(pixel[c] / 255.0f, expected[c], colourTolerance) << "channel " << c;
}

// The window shows `colour` at the tile's centroid, lifted by `lift` (read back through depth).
void ExpectTile(const TopDown& view, int row, int column, glm::vec3 colour, float lift) {
  SCOPED_TRACE(::testing::Message() << "tile " << row << ", " << column);
  const glm::ivec2 pixel = view.Pixel(Centroid(row, column));
  ExpectColour(ReadPixels(pixel.x, pixel.y, 1, 1)[0], colour);
  float depth = -1.0f;
  glReadPixels(pixel.x, pixel.y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  EXPECT_NEAR(0.1f - 0.2f * depth, lift, 5e-4f);
}

float MaskAt(const TopDown& view, glm::vec2 point) {
  const glm::ivec2 pixel = view.Pixel(point);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, lightMaskFramebuffer);
  const float grey = ReadPixels(pixel.x, pixel.y, 1, 1)[0][0] / 255.0f;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  return grey;
}

void FillMask(float grey) {
  glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
  glClearColor(grey, grey, grey, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// A square single-channel picture, repeating and bilinear like the loaded one (base level
// only); red(s, t) is the byte of texel s of row t, row 0 at the bottom.
GLuint HeightMap(int size, auto red) {
  std::vector<unsigned char> texels;
  for (int t = 0; t < size; ++t) {
    for (int s = 0; s < size; ++s) texels.push_back(static_cast<unsigned char>(red(s, t)));
  }
  GLuint texture = 0;
  glCreateTextures(GL_TEXTURE_2D, 1, &texture);
  glTextureStorage2D(texture, 1, GL_R8, size, size);
  glTextureSubImage2D(texture, 0, 0, 0, size, size, GL_RED, GL_UNSIGNED_BYTE, texels.data());
  glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  return texture;
}

class Scene : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
    CreateGpuResources(testWindowWidth, testWindowHeight);
    BuildScenePrograms();
    PrepareFirstFrame();
  }

  void TearDown() override {
    glDeleteTextures(1, &heightMapTexture);
    heightMapTexture = 0;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
};

TEST_F(Scene, BackdropIsATealGradientFromLeftToRight) {
  // Framed exactly, the quad fills the window.
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawBackdropPass(TopDown{{0.0f, 0.0f}, {16.0f, 9.0f}}.Camera());
  for (const auto& [x, glow] : {std::pair{0, 0.381f}, {240, 0.5f}, {479, 0.619f}}) {
    SCOPED_TRACE(::testing::Message() << "column " << x);
    ExpectColour(ReadPixels(x, testWindowHeight / 2, 1, 1)[0], {0.0f, glow, 0.85f * glow});
  }
}

// Framed across the band's lower edge (v 0.3, in row 76): row 75 lies outside the band, flat
// and grey; row 77 inside rises by 0.02 x the height and turns toward mint by
// smoothstep(0.15, 0.75, height). heightMapHeight changes nothing.
TEST_F(Scene, TilesRiseAndTurnMintInsideTheBandOnlyByHowDarkThePictureIs) {
  const TopDown view{Centroid(76, 500), {0.24f, 0.135f}};
  // No picture: every lookup reads black, height 1. Red 140 everywhere: height 0.451.
  for (const auto& [heightMap, colour, lift] :
       {std::tuple{GLuint{0}, mint, 0.02f},
        {HeightMap(1, [](int, int) { return 140; }), glm::vec3{0.3f, 0.75f, 0.675f}, 0.00902f}}) {
    heightMapTexture = heightMap;
    for (const float heightMapHeight : {-1.0f, 0.0f, 40.0f}) {  // -1: the tile pass's own 0.5
      SCOPED_TRACE(::testing::Message()
                   << "picture " << heightMap << ", heightMapHeight " << heightMapHeight);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      if (heightMapHeight < 0.0f) {
        DrawTilePass(view.Camera(), 0.0f);
      } else {
        DrawLiftedTiles(tileProgram, tileUniforms, view.Camera(), 0.0f, heightMapHeight);
      }
      for (const int column : {500, 501}) {
        ExpectTile(view, 75, column, grey, 0.0f);
        ExpectTile(view, 77, column, colour, lift);
      }
    }
  }
  // In the light mask a tile outside the band is dim; the gap between two keeps the pass's clear.
  FillMask(1.0f);
  DrawLightMaskPass(view.Camera(), 0.0f);
  EXPECT_NEAR(MaskAt(view, Centroid(75, 500)), 0.25f, colourTolerance);
  EXPECT_EQ(MaskAt(view, (Centroid(75, 500) + Centroid(75, 501)) / 2.0f), 0.0f);
}

// A picture with a dark lower-left quarter, framed where its left edge starts at time 0 (x 2.4,
// at 0.65 of the grid's width) across the middle of the band: rows 126 below the middle and 129
// above, columns 637 left of x 2.4 and 662 right of it.
TEST_F(Scene, PictureStartsAtItsPlaceScrollsLeftUprightAndReturnsAfterTwentySeconds) {
  heightMapTexture = HeightMap(256, [](int s, int t) { return s < 128 && t < 128 ? 0 : 255; });
  const TopDown view{{2.4f, 0.0f}, {0.48f, 0.27f}};
  const auto expectTile = [&](int row, int column, bool dark) {
    ExpectTile(view, row, column, dark ? mint : grey, dark ? 0.02f : 0.0f);
  };
  // It moves left by 0.05 grid widths a second: by 5 s the dark quarter spans the view.
  for (const auto& [time, leftDark] : {std::pair{0.0f, false}, {5.0f, true}, {20.0f, false}}) {
    SCOPED_TRACE(::testing::Message() << time << " s");
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawTilePass(view.Camera(), time);
    expectTile(126, 637, leftDark);
    expectTile(126, 662, true);
    expectTile(129, 637, false);
    expectTile(129, 662, false);
  }
  // The light mask is white over the dark quarter and dim elsewhere.
  DrawLightMaskPass(view.Camera(), 0.0f);
  EXPECT_NEAR(MaskAt(view, Centroid(126, 662)), 1.0f, colourTolerance);
  EXPECT_NEAR(MaskAt(view, Centroid(126, 637)), 0.25f, colourTolerance);
}

// Over a uniform mask of grey m every pixel gathers the same ray colour, 0.8 x (0.5718 m,
// 0.5718 m, 0.3 + 0.5718 m), and takes it whole where its blue exceeds the pixel's dither
// threshold, adding nothing elsewhere. The composite adds, saturates at 1, ignores depth and
// leaves depth testing on and blending off.
TEST_F(Scene, LightShaftsAddTheRayColourWhereItExceedsTheDitherThreshold) {
  // The pixels whose dither entries are below litEntries take the ray colour `lit`.
  for (const auto& [mask, background, lit, litEntries] :
       {std::tuple{0.0f, black, glm::vec3{0.0f, 0.0f, 0.24f}, 4},
        {0.25f, black, glm::vec3{0.114f, 0.114f, 0.354f}, 6},
        {1.0f, black, glm::vec3{0.457f, 0.457f, 0.697f}, 12},
        {1.0f, glm::vec3{0.9f, 0.5f, 0.5f}, glm::vec3{1.0f, 0.957f, 1.0f}, 12}}) {
    SCOPED_TRACE(::testing::Message() << "mask " << mask << ", background red " << background.r);
    FillMask(mask);
    glClearColor(background.r, background.g, background.b, 1.0f);
    glClearDepth(0.0);  // a depth-tested composite would draw nothing
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    DrawLightShaftComposite();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    const auto window = ReadPixels(0, 0, testWindowWidth, testWindowHeight);
    int wrong = 0;
    for (int y = 0; y < testWindowHeight; ++y) {
      for (int x = 0; x < testWindowWidth; ++x) {
        const glm::vec3 expected = bayer[y & 3][x & 3] < litEntries ? lit : background;
        const auto& pixel = window[static_cast<std::size_t>(y) * testWindowWidth + x];
        const glm::vec3 difference = glm::vec3(pixel[0], pixel[1], pixel[2]) / 255.0f - expected;
        if (glm::any(glm::greaterThan(glm::abs(difference), glm::vec3(colourTolerance))) &&
            ++wrong <= 3) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << "), entry " << bayer[y & 3][x & 3]
                        << ", blue " << int{pixel[2]};
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// A whole frame is the teal clear, the backdrop and the tiles, with the shafts added last: pixels
// whose dither entry is 12 or more show the scene unchanged, entry-0 pixels at least 0.24 bluer.
TEST_F(Scene, AFrameAddsTheShaftsOverTheBackdropAndTiles) {
  RenderFrame(testWindowWidth, testWindowHeight, 3.0f);
  const auto frame = ReadPixels(0, 0, testWindowWidth, testWindowHeight);
  glClearColor(0.0f, 0.35f, 0.35f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const CameraMatrices camera = ComputeCameraMatrices(testWindowWidth, testWindowHeight);
  DrawBackdropPass(camera);
  DrawTilePass(camera, 3.0f);
  const auto scene = ReadPixels(0, 0, testWindowWidth, testWindowHeight);
  int unchanged = 0, brighter = 0, dark = 0, darkest = 0;
  for (int y = 0; y < testWindowHeight; ++y) {
    for (int x = 0; x < testWindowWidth; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * testWindowWidth + x;
      const int entry = bayer[y & 3][x & 3];
      dark += entry >= 12;
      darkest += entry == 0;
      unchanged += entry >= 12 && frame[i] == scene[i];
      brighter += entry == 0 && (frame[i][2] == 255 || frame[i][2] >= scene[i][2] + 59);
    }
  }
  EXPECT_EQ(unchanged, dark);
  EXPECT_EQ(brighter, darkest);
}

}  // namespace
