// The scene's passes and light shafts drawn on the real mesh and programs, read back against
// the expected colours, lifts and mask.
#include "app/scene.h"

#include <gtest/gtest.h>

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/glm.hpp>
#include <tuple>

#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "render/frame.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"
#include "render/scene_programs.h"
#include "tests/gl/gl_test_context.h"

namespace {

constexpr glm::vec3 grey{0.5f}, mint{0.1f, 1.0f, 0.85f}, black{0.0f};
constexpr float tolerance = 2.0f / 255.0f;  // colours come back as 8-bit channels
// Thresholds x 16 of the ordered dither, by window y mod 4 (rows from the bottom), then x mod 4.
constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

void ExpectColour(glm::vec3 actual, glm::vec3 expected) {
  EXPECT_TRUE(glm::all(glm::lessThanEqual(glm::abs(actual - expected), glm::vec3(tolerance))))
      << actual.r << ", " << actual.g << ", " << actual.b;
}

glm::vec2 Centroid(int row, int column) {
  const TileVertex* corner = &tileVertices.at(3 * (std::size_t{1} * row * gridColumns + column));
  return (glm::vec2(corner[0].position[0], corner[0].position[1]) +
          glm::vec2(corner[1].position[0], corner[1].position[1]) +
          glm::vec2(corner[2].position[0], corner[2].position[1])) /
         3.0f;
}

// Straight down on the surface around `centre`, `width` wide: depth 0..1 spans lifts +0.1..-0.1.
struct TopDown {
  glm::vec2 centre;
  float width;
  glm::vec2 Size() const { return {width, width * testWindowHeight / testWindowWidth}; }
  CameraMatrices Camera() const {
    const glm::vec2 low = centre - 0.5f * Size(), high = centre + 0.5f * Size();
    return {glm::mat4(1.0f), glm::mat4(1.0f),
            glm::ortho(low.x, high.x, low.y, high.y, -0.1f, 0.1f)};
  }
  // Draws the light mask over a white one, then the tile pass into a cleared window.
  void Draw(float time) const {
    glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawLightMaskPass(Camera(), time);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawTilePass(Camera(), time);
  }
  // What shows at `point`: the window's colour, the lift (through depth) and the mask's grey.
  std::tuple<glm::vec3, float, float> At(glm::vec2 point) const {
    const glm::ivec2 p = glm::floor(((point - centre) / Size() + 0.5f) *
                                    glm::vec2(testWindowWidth, testWindowHeight));
    const auto pixel = ReadPixels(p.x, p.y, 1, 1)[0];
    float depth = -1.0f;
    glReadPixels(p.x, p.y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, lightMaskFramebuffer);
    const float mask = ReadPixels(p.x, p.y, 1, 1)[0][0] / 255.0f;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return {glm::vec3(pixel[0], pixel[1], pixel[2]) / 255.0f, 0.1f - 0.2f * depth, mask};
  }
};

// A square one-channel picture, repeating and bilinear like the loaded one (base level only);
// red(s, t) is the byte of texel s of row t, row 0 at the bottom.
GLuint HeightMap(int size, auto red) {
  std::vector<unsigned char> texels;
  for (int i = 0; i < size * size; ++i) texels.push_back(red(i % size, i / size));
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
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawBackdropPass(TopDown{{0.0f, 0.0f}, 16.0f}.Camera());  // framed exactly, it fills the window
  for (const auto [x, glow] : {std::pair{0, 0.381f}, {240, 0.5f}, {479, 0.619f}}) {
    const auto pixel = ReadPixels(x, testWindowHeight / 2, 1, 1)[0];
    ExpectColour(glm::vec3(pixel[0], pixel[1], pixel[2]) / 255.0f, {0.0f, glow, 0.85f * glow});
  }
}

// With no picture every lookup reads black, full height: the tiles whose centroids lie in the
// band (rows 77 to 178) rise by 0.02 and turn mint, the others stay grey, lifted only where a
// corner reaches into the band (0.05 a corner, a third of it at the centroid). In the light mask
// every tile is at least 0.25 and lifted ones white, except near the band's edges, where the
// mask alone fades them over 0.08 of the band (rows 77 and 178 dim, row 80 half); the gaps keep
// the pass's clear. Red 140 everywhere gives height 0.451: about half the colour and the mask.
TEST_F(Scene, TilesRiseAndTurnMintInsideTheBandByHowDarkThePictureIs) {
  const GLuint red140 = HeightMap(1, [](int, int) { return 140; });
  for (const auto [picture, row, column, colour, lift, maskLow, maskHigh] :
       {std::tuple{0u, 75, 500, grey, 0.0f, 0.25f, 0.25f},
        {0u, 76, 500, grey, 0.05f / 3, 0.25f, 0.25f},
        {0u, 77, 500, mint, 0.02f, 0.25f, 0.25f},
        {0u, 80, 500, mint, 0.02f, 0.3f, 0.95f},
        {0u, 128, 500, mint, 0.02f, 1.0f, 1.0f},
        {0u, 178, 500, mint, 0.02f, 0.25f, 0.25f},
        {0u, 179, 501, grey, 0.1f / 3, 0.25f, 0.25f},
        {red140, 128, 500, glm::vec3{0.3f, 0.75f, 0.675f}, 0.00902f, 0.627f, 0.627f}}) {
    SCOPED_TRACE(::testing::Message()
                 << "picture " << picture << ", tile " << row << ", " << column);
    heightMapTexture = picture;
    const TopDown view{Centroid(row, column), 0.06f};
    view.Draw(0.0f);
    const auto [seen, seenLift, mask] = view.At(Centroid(row, column));
    ExpectColour(seen, colour);
    EXPECT_NEAR(seenLift, lift, 5e-4f);
    EXPECT_GE(mask, maskLow - tolerance);
    EXPECT_LE(mask, maskHigh + tolerance);
    EXPECT_EQ(std::get<2>(view.At((Centroid(row, column) + Centroid(row, column + 1)) / 2.0f)),
              0.0f);
  }
}

// A picture with a dark lower-left quarter, framed where its left edge starts at time 0 (x 2.4,
// at 0.65 of the grid's width) across the middle of the band: rows 126 below the middle and 129
// above, columns 637 left of x 2.4 and 662 right of it. It moves left by 0.05 grid widths a
// second: by 5 s the dark quarter spans the view; at 20 s it is back.
TEST_F(Scene, PictureStartsAtItsPlaceScrollsLeftUprightAndReturnsAfterTwentySeconds) {
  heightMapTexture = HeightMap(256, [](int s, int t) { return s < 128 && t < 128 ? 0 : 255; });
  const TopDown view{{2.4f, 0.0f}, 0.48f};
  for (const auto [time, leftDark] : {std::pair{0.0f, false}, {5.0f, true}, {20.0f, false}}) {
    view.Draw(time);
    for (const auto [row, column, dark] :
         {std::tuple{126, 637, leftDark}, {126, 662, true}, {129, 637, false}, {129, 662, false}}) {
      SCOPED_TRACE(::testing::Message() << time << " s, tile " << row << ", " << column);
      const auto [seen, lift, mask] = view.At(Centroid(row, column));
      ExpectColour(seen, dark ? mint : grey);
      EXPECT_NEAR(lift, dark ? 0.02f : 0.0f, 5e-4f);
      EXPECT_NEAR(mask, dark ? 1.0f : 0.25f, tolerance);
    }
  }
}

// Over a mask of grey m along its whole march a pixel gathers the ray colour 0.8 x (0.5718 m,
// 0.5718 m, 0.3 + 0.5718 m) and takes it whole where its blue exceeds the pixel's dither
// threshold, adding nothing elsewhere. It marches halfway toward the middle of the screen, so a
// mask white in its upper right quarter lights that quarter alone. The composite adds, saturates
// at 1, ignores depth and leaves depth testing on and blending off.
TEST_F(Scene, LightShaftsAddTheRayColourWhereItExceedsTheDitherThreshold) {
  // Grey of the mask: the ray colour and how many dither entries (from 0) take it.
  const auto ray = [](float m) {
    return m == 0.0f    ? std::pair{glm::vec3{0.0f, 0.0f, 0.24f}, 4}
           : m == 0.25f ? std::pair{glm::vec3{0.114f, 0.114f, 0.354f}, 6}
                        : std::pair{glm::vec3{0.457f, 0.457f, 0.697f}, 12};
  };
  constexpr int w = testWindowWidth, h = testWindowHeight;
  for (const auto [grey, quarter, background] : {std::tuple{0.0f, false, black},
                                                 {0.25f, false, black},
                                                 {1.0f, false, black},
                                                 {1.0f, false, glm::vec3{0.9f, 0.5f, 0.5f}},
                                                 {1.0f, true, black}}) {
    SCOPED_TRACE(::testing::Message() << "mask " << grey << (quarter ? " in a quarter" : "")
                                      << ", background red " << background.r);
    glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(quarter ? w / 2 : 0, quarter ? h / 2 : 0, w, h);
    glClearColor(grey, grey, grey, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClearColor(background.r, background.g, background.b, 1.0f);
    glClearDepth(0.0);  // a depth-tested composite would draw nothing
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    DrawLightShaftComposite();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    const auto window = ReadPixels(0, 0, w, h);
    int wrong = 0;
    for (int i = 0; i < w * h; ++i) {
      const int x = i % w, y = i / w, entry = bayer[y & 3][x & 3];
      if (quarter && (std::abs(x - w / 2) < 3 || std::abs(y - h / 2) < 3)) continue;  // edges
      const auto [lit, litEntries] = ray(quarter && (x < w / 2 || y < h / 2) ? 0.0f : grey);
      const glm::vec3 expected = glm::min(background + (entry < litEntries ? lit : black), 1.0f);
      const glm::vec3 seen = glm::vec3(window[i][0], window[i][1], window[i][2]) / 255.0f;
      if (glm::any(glm::greaterThan(glm::abs(seen - expected), glm::vec3(tolerance))) &&
          ++wrong <= 3) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << "), entry " << entry << ", blue "
                      << int{window[i][2]};
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
  int wrong = 0;
  for (int i = 0; i < testWindowWidth * testWindowHeight; ++i) {
    const int entry = bayer[i / testWindowWidth & 3][i % testWindowWidth & 3];
    wrong += entry >= 12 && frame[i] != scene[i];
    wrong += entry == 0 && frame[i][2] != 255 && frame[i][2] < scene[i][2] + 59;
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
