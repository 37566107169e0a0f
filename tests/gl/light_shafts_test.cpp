#include "render/light_shafts.h"

#include <gtest/gtest.h>

#include <vector>

#include "render/frame.h"
#include "render/scene_passes.h"
#include "tests/gl/scene_test_support.h"

namespace {

// Thresholds x 16 of the ordered dither, by window y mod 4 (rows from the bottom), then x mod 4.
constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

int BayerEntry(int x, int y) {
  return bayer[y & 3][x & 3];
}

class LightShafts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateTestScene(); }

  void SetUp() override {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, testWindowWidth, testWindowHeight);
  }

  void TearDown() override {
    glDeleteTextures(1, &heightMapTexture);
    heightMapTexture = 0;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }

  // The light-mask pass over a mask left white beforehand, so that its own clear shows; the
  // mask is then the read framebuffer.
  static void DrawMask(const CameraMatrices& camera) {
    FillMask(1.0f);
    DrawLightMaskPass(camera, 0.0f);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, lightMaskFramebuffer);
  }

  static void FillMask(float grey) {
    glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
    glClearColor(grey, grey, grey, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }

  static float MaskAt(const CameraMatrices& camera, glm::vec3 point) {
    const glm::ivec2 pixel = PixelAt(camera, point);
    return ReadPixel(pixel.x, pixel.y)[0];
  }

  // Clears the window to `background` and its depth to the nearest value (a depth-tested
  // composite would draw nothing), then adds the composite; the window is the read framebuffer.
  static void Composite(Rgb background) {
    glClearColor(background.r, background.g, background.b, 1.0f);
    glClearDepth(0.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    DrawLightShaftComposite();
  }
};

// The fade of the mask toward the band's edges: full height from 0.08 of the band inward.
float FadedStrength(const Tile& tile) {
  const float localY = (tile.uv.y - 0.3f) / 0.4f;
  const float fade = SmoothStep(0.0f, 0.08f, localY) * (1.0f - SmoothStep(0.92f, 1.0f, localY));
  return 0.25f + 0.75f * SmoothStep(0.15f, 0.75f, fade);
}

// Without a picture the band is fully lifted: white in the mask except where the fade dims
// it near the band's edges; every other tile is grey 0.25, and gaps and the space beyond the
// surface keep the clear black.
TEST_F(LightShafts, MaskIsDimForEveryTileBrightInsideTheBandAndBlackElsewhere) {
  struct Edge {
    int framedRow;  // framed at the middle column
    std::vector<int> dimRows, brightRows, fadingRows;
  };
  const Edge edges[] = {
      {83, {74, 76, 77}, {85, 92}, {78, 79, 80, 81, 82}},
      {174, {179, 183}, {165, 172}, {173, 174, 175, 176, 177}},
  };
  for (const Edge& edge : edges) {
    const CameraMatrices camera =
        TopDownCamera(TileAt(edge.framedRow, 500).centroid, {1.0f, 0.5625f});
    DrawMask(camera);
    auto expectRows = [&](const std::vector<int>& rows, auto strengthOf) {
      for (const int row : rows) {
        for (const int column : {500, 501}) {
          SCOPED_TRACE(::testing::Message() << "row " << row << ", column " << column);
          const Tile tile = TileAt(row, column);
          EXPECT_NEAR(MaskAt(camera, glm::vec3(tile.centroid, 0.0f)), strengthOf(tile),
                      colourTolerance);
        }
      }
    };
    expectRows(edge.dimRows, [](const Tile&) { return 0.25f; });
    expectRows(edge.brightRows, [](const Tile&) { return 1.0f; });
    expectRows(edge.fadingRows, FadedStrength);
  }

  // Zoomed in on the bottom edge of the surface, around two neighbouring tiles of row 0.
  const Tile up = TileAt(0, 500), down = TileAt(0, 499);
  const float bottom = up.corners[0].y;
  const CameraMatrices camera = TopDownCamera({0.008f, bottom + 0.007f}, {0.048f, 0.027f});
  DrawMask(camera);
  EXPECT_NEAR(MaskAt(camera, glm::vec3(up.centroid, 0.0f)), 0.25f, colourTolerance);
  EXPECT_NEAR(MaskAt(camera, glm::vec3(down.centroid, 0.0f)), 0.25f, colourTolerance);
  // Half way between the two centroids lies the middle of their shared (unshrunk) edge, in
  // the gap; below the surface lies nothing.
  const glm::vec2 gap = 0.5f * (up.centroid + down.centroid);
  EXPECT_EQ(MaskAt(camera, glm::vec3(gap, 0.0f)), 0.0f);
  EXPECT_EQ(MaskAt(camera, glm::vec3(0.008f, bottom - 0.005f, 0.0f)), 0.0f);
}

// Through the real camera over the striped picture, every tile shows at least grey 0.25 and
// fully dark stripes white; heightMapHeight changes nothing.
TEST_F(LightShafts, MaskFollowsThePictureThroughTheCameraWhateverTheHeightMapHeight) {
  heightMapTexture = CreateStripedHeightMap();
  const CameraMatrices camera = RealCamera();
  DrawMask(camera);
  const Snapshot drawn = TakeSnapshot(false);
  struct Level {
    int stripe;
    float lift, strength;
  };
  const Level levels[] = {
      {1, 0.02f, 1.0f},       // red 0: height 1
      {2, 0.016f, 1.0f},      // red 51: height 0.8
      {3, 0.00902f, 0.627f},  // red 140: height 0.451, shaped to 0.502
      {4, 0.00196f, 0.25f},   // red 230: height 0.098
      {5, 0.0f, 0.25f},       // red 255
  };
  for (const Level& level : levels) {
    SCOPED_TRACE(::testing::Message() << "stripe of red " << int{stripeReds[level.stripe]});
    const Tile tile = BestCentredTile(camera, RowAtV(StripeCentreV(level.stripe)), level.lift);
    EXPECT_NEAR(MaskAt(camera, glm::vec3(tile.centroid, level.lift)), level.strength,
                colourTolerance);
  }

  // The pass sets heightMapHeight 0.2; other values draw the same mask.
  for (const float heightMapHeight : {0.0f, 40.0f}) {
    glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawLiftedTiles(lightMaskProgram, lightMaskUniforms, camera, 0.0f, heightMapHeight);
    EXPECT_EQ(CountDifferingPixels(TakeSnapshot(false), drawn), 0)
        << "heightMapHeight " << heightMapHeight;
  }
}

// Over a uniform mask every pixel marches through the same grey m, so its ray colour is
// 0.8 x (0.5718 m, 0.5718 m, 0.3 + 0.5718 m); a pixel takes it whole where the blue exceeds its
// dither threshold and adds nothing elsewhere. The composite adds, saturates at 1, ignores
// depth and leaves depth testing on and blending off.
TEST_F(LightShafts, CompositeAddsTheRayColourToThePixelsWhoseThresholdItExceeds) {
  struct Case {
    float mask;
    Rgb background;
    Rgb expectedLit;
    int litEntries;  // the pixels whose dither entries are below this take the ray colour
  };
  const Case cases[] = {
      {0.0f, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.24f}, 4},
      {0.25f, {0.0f, 0.0f, 0.0f}, {0.114f, 0.114f, 0.354f}, 6},
      {1.0f, {0.0f, 0.0f, 0.0f}, {0.457f, 0.457f, 0.697f}, 12},
      {1.0f, {0.9f, 0.5f, 0.5f}, {1.0f, 0.957f, 1.0f}, 12},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "mask " << test.mask << " over (" << test.background.r << ", "
                 << test.background.g << ", " << test.background.b << ")");
    FillMask(test.mask);
    Composite(test.background);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    const Snapshot window = TakeSnapshot(false);
    int wrong = 0;
    for (int y = 0; y < testWindowHeight; ++y) {
      for (int x = 0; x < testWindowWidth; ++x) {
        const Rgb expected =
            BayerEntry(x, y) < test.litEntries ? test.expectedLit : test.background;
        const auto& pixel = window.colour[static_cast<std::size_t>(y) * testWindowWidth + x];
        const float channels[3] = {expected.r, expected.g, expected.b};
        bool matches = true;
        for (int c = 0; c < 3; ++c) {
          matches = matches && std::abs(pixel[c] / 255.0f - channels[c]) <= colourTolerance;
        }
        if (!matches && ++wrong <= 3) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") is (" << int{pixel[0]} << ", "
                        << int{pixel[1]} << ", " << int{pixel[2]} << ")/255";
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// A white disc of radius 0.2 (in screen coordinates) around the middle of a black mask. Each
// pixel marches from itself halfway toward the middle, so pixels well inside the disc see only
// white and pixels more than twice its radius away only black.
TEST_F(LightShafts, EachPixelMarchesHalfwayTowardTheMiddleOfTheScreen) {
  auto centreDistance = [](int x, int y) {
    return glm::distance(glm::vec2((x + 0.5f) / testWindowWidth, (y + 0.5f) / testWindowHeight),
                         glm::vec2(0.5f));
  };
  std::vector<std::array<unsigned char, 4>> disc(testWindowWidth * testWindowHeight);
  for (int y = 0; y < testWindowHeight; ++y) {
    for (int x = 0; x < testWindowWidth; ++x) {
      const unsigned char grey = centreDistance(x, y) < 0.2f ? 255 : 0;
      disc[static_cast<std::size_t>(y) * testWindowWidth + x] = {grey, grey, grey, 255};
    }
  }
  glTextureSubImage2D(lightMaskTexture, 0, 0, 0, testWindowWidth, testWindowHeight, GL_RGBA,
                      GL_UNSIGNED_BYTE, disc.data());
  Composite({0.0f, 0.0f, 0.0f});

  const Snapshot window = TakeSnapshot(false);
  int inside = 0, outside = 0, wrong = 0;
  for (int y = 0; y < testWindowHeight; ++y) {
    for (int x = 0; x < testWindowWidth; ++x) {
      const float distance = centreDistance(x, y);
      const bool allWhite = distance < 0.19f, allBlack = distance > 0.42f;
      if (!allWhite && !allBlack) continue;
      ++(allWhite ? inside : outside);
      const bool lit = window.colour[static_cast<std::size_t>(y) * testWindowWidth + x][2] > 0;
      if (lit != (BayerEntry(x, y) < (allWhite ? 12 : 4)) && ++wrong <= 3) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") at " << distance << " from the middle "
                      << (lit ? "lit" : "dark");
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(inside, 10000);
  EXPECT_GT(outside, 10000);
}

// Whole frames into the window over the picture's dark lower-left quarter.
TEST_F(LightShafts, WholeFrameAddsTheShaftsOverTheSceneAndRepeatsEveryTwentySeconds) {
  heightMapTexture =
      CreateHeightMap(256, 256, [](int s, int t) { return s < 128 && t < 128 ? 0 : 255; });
  const CameraMatrices camera = RealCamera();
  RenderFrame(testWindowWidth, testWindowHeight, 3.0f);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  const Snapshot frame = TakeSnapshot(false);

  // At 3 s the dark quarter lies right of the middle of the surface (grid u 0.5 to 1), in the
  // lower half of the band; the frame's mask shows it there.
  glBindFramebuffer(GL_READ_FRAMEBUFFER, lightMaskFramebuffer);
  const Tile dark = TileNear({0.8f, -0.4f}), light = TileNear({-0.8f, -0.4f});
  EXPECT_NEAR(MaskAt(camera, glm::vec3(dark.centroid, 0.02f)), 1.0f, colourTolerance);
  EXPECT_NEAR(MaskAt(camera, glm::vec3(light.centroid, 0.0f)), 0.25f, colourTolerance);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);

  RenderFrame(testWindowWidth, testWindowHeight, 23.0f);
  EXPECT_LE(CountDifferingPixels(TakeSnapshot(false), frame), fewPixels) << "after 20 s";
  RenderFrame(testWindowWidth, testWindowHeight, 13.0f);
  EXPECT_GT(CountDifferingPixels(TakeSnapshot(false), frame), 10000) << "after 10 s";

  // The same scene without the composite: pixels whose thresholds are 12/16 and up are left
  // as they are; those of threshold 0 gain at least the blue 0.24 (up to saturation).
  glClearColor(0.0f, 0.35f, 0.35f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawBackdropPass(camera);
  DrawTilePass(camera, 3.0f);
  const Snapshot scene = TakeSnapshot(false);
  int wrong = 0;
  for (int y = 0; y < testWindowHeight; ++y) {
    for (int x = 0; x < testWindowWidth; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * testWindowWidth + x;
      const int entry = BayerEntry(x, y);
      const bool untouched = frame.colour[i] == scene.colour[i];
      const bool brightened =
          frame.colour[i][2] - scene.colour[i][2] >= std::min(61, 255 - scene.colour[i][2]) - 2;
      if (((entry >= 12 && !untouched) || (entry == 0 && !brightened)) && ++wrong <= 3) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << "), dither entry " << entry;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
