#include "render/scene_passes.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/gl/scene_test_support.h"

namespace {

// Draws into an off-screen target of the window's size with a float depth buffer, so that
// colour and the lift (through depth) can both be read back at any pixel.
class ScenePasses : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateTestScene();
    glCreateRenderbuffers(2, renderbuffers_);
    glNamedRenderbufferStorage(renderbuffers_[0], GL_RGBA8, testWindowWidth, testWindowHeight);
    glNamedRenderbufferStorage(renderbuffers_[1], GL_DEPTH_COMPONENT32F, testWindowWidth,
                               testWindowHeight);
    glCreateFramebuffers(1, &target_);
    glNamedFramebufferRenderbuffer(target_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                   renderbuffers_[0]);
    glNamedFramebufferRenderbuffer(target_, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                   renderbuffers_[1]);
    ASSERT_EQ(glCheckNamedFramebufferStatus(target_, GL_FRAMEBUFFER),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  }

  void SetUp() override {
    glBindFramebuffer(GL_FRAMEBUFFER, target_);
    glViewport(0, 0, testWindowWidth, testWindowHeight);
    ClearTarget();
  }

  void TearDown() override {
    glDeleteTextures(1, &heightMapTexture);
    heightMapTexture = 0;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }

  // Magenta, far: nothing the scene draws looks like it.
  static void ClearTarget() {
    glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }

  static Snapshot DrawTiles(const CameraMatrices& camera, float time) {
    ClearTarget();
    DrawTilePass(camera, time);
    return TakeSnapshot(true);
  }

  static inline GLuint target_ = 0;
  static inline GLuint renderbuffers_[2] = {};
};

TEST_F(ScenePasses, BackdropIsATealGradientFromLeftToRightBehindTheSurface) {
  // Framed exactly, the quad fills the window and pixel column i lies at x = -8 + (i + 0.5) / 30.
  DrawBackdropPass({glm::mat4(1.0f), glm::mat4(1.0f), glm::ortho(-8.0f, 8.0f, -4.5f, 4.5f)});
  struct Column {
    int x;
    float glow;
  };
  for (const Column column :
       {Column{0, 0.381f}, {120, 0.441f}, {240, 0.5f}, {360, 0.559f}, {479, 0.619f}}) {
    for (const int y : {0, testWindowHeight / 2, testWindowHeight - 1}) {
      SCOPED_TRACE(::testing::Message() << "pixel (" << column.x << ", " << y << ")");
      ExpectColour(ReadPixel(column.x, y), {0.0f, column.glow, 0.85f * column.glow});
    }
  }

  // Through the real camera only the middle of the quad shows; wherever a pixel lands on it
  // (found through depth), the glow is 0.5 + 0.25 * 0.4754 * x / 8 and the quad lies at -0.05.
  ClearTarget();
  const CameraMatrices camera = RealCamera();
  DrawBackdropPass(camera);
  for (const glm::ivec2 pixel : {glm::ivec2{0, 0}, {479, 0}, {240, 135}, {0, 269}, {479, 269}}) {
    SCOPED_TRACE(::testing::Message() << "pixel (" << pixel.x << ", " << pixel.y << ")");
    const glm::dvec3 seen = ModelPointAt(camera, pixel.x, pixel.y, ReadDepth(pixel.x, pixel.y));
    EXPECT_NEAR(seen.z, -0.05, liftTolerance);
    const float glow = 0.5f + 0.25f * 0.4754f * static_cast<float>(seen.x) / 8.0f;
    ExpectColour(ReadPixel(pixel.x, pixel.y), {0.0f, glow, 0.85f * glow});
  }
}

// Without a picture every lookup reads black: inside the band (v 0.3 .. 0.7) every tile rises
// by the full 0.02 and turns mint; rows 76 and 179 only reach into the band with corners, which
// rise by 0.05 while the tile stays grey; all other rows stay flat and grey.
TEST_F(ScenePasses, WithoutAPictureTheBandRisesFullyAndOnlyItsEdgeCornersMoveOutside) {
  struct TileCase {
    int row, column;
    std::array<float, 3> lifts;  // corners in the mesh's order
    Rgb colour;
  };
  struct Edge {
    int row;  // framed at the middle column
    std::vector<TileCase> tiles;
  };
  const std::vector<Edge> edges = {
      {76,
       {{75, 500, {0.0f, 0.0f, 0.0f}, tileGrey},
        {76, 500, {0.0f, 0.0f, 0.05f}, tileGrey},   // up: its apex is in the band
        {76, 501, {0.05f, 0.0f, 0.05f}, tileGrey},  // down: its top edge is in the band
        {77, 500, {0.02f, 0.02f, 0.02f}, textMint},
        {77, 501, {0.02f, 0.02f, 0.02f}, textMint}}},
      {179,
       {{178, 500, {0.02f, 0.02f, 0.02f}, textMint},
        {179, 500, {0.0f, 0.05f, 0.0f}, tileGrey},   // down: its bottom corner is in the band
        {179, 501, {0.05f, 0.05f, 0.0f}, tileGrey},  // up: its base is in the band
        {180, 500, {0.0f, 0.0f, 0.0f}, tileGrey},
        {180, 501, {0.0f, 0.0f, 0.0f}, tileGrey}}},
  };
  for (const Edge& edge : edges) {
    SCOPED_TRACE(::testing::Message() << "band edge at row " << edge.row);
    const CameraMatrices camera =
        TopDownCamera(TileAt(edge.row, 500).centroid, glm::vec2(0.24f, 0.135f));
    DrawTiles(camera, 0.0f);
    for (const TileCase& tile : edge.tiles) {
      SCOPED_TRACE(::testing::Message() << "row " << tile.row << ", column " << tile.column);
      ExpectTile(camera, TileAt(tile.row, tile.column), tile.lifts, tile.colour);
    }
  }
}

// A picture uniform along its width in horizontal stripes: each stripe's tiles rise by
// 0.02 x (1 - red) and take the colour that smoothstep(0.15, 0.75, 1 - red) mixes from grey
// toward mint; seen through the real camera.
TEST_F(ScenePasses, TilesRiseAndTurnMintByHowDarkThePictureIsUnderThem) {
  heightMapTexture = CreateStripedHeightMap();
  const CameraMatrices camera = RealCamera();
  DrawTilePass(camera, 0.0f);
  struct Level {
    int stripe;
    float lift;
    Rgb colour;
  };
  const Level levels[] = {
      {1, 0.02f, textMint},                  // red 0: height 1
      {2, 0.016f, textMint},                 // red 51: height 0.8, above the 0.75 of full colour
      {3, 0.00902f, {0.3f, 0.75f, 0.675f}},  // red 140: height 0.451, half way in colour
      {4, 0.00196f, tileGrey},               // red 230: height 0.098, below the 0.15 of any colour
      {5, 0.0f, tileGrey},                   // red 255: height 0
  };
  for (const Level& level : levels) {
    SCOPED_TRACE(::testing::Message() << "stripe of red " << int{stripeReds[level.stripe]});
    const Tile tile = BestCentredTile(camera, RowAtV(StripeCentreV(level.stripe)), level.lift);
    ExpectTile(camera, tile, {level.lift, level.lift, level.lift}, level.colour);
  }
}

// The picture's dark lower-left quarter, framed where its left edge starts at time 0
// (x 2.4, at 0.65 of the grid's width) and across the middle of the band (y 0).
TEST_F(ScenePasses, PictureStartsAtItsPlaceScrollsLeftUprightAndReturnsAfterTwentySeconds) {
  heightMapTexture =
      CreateHeightMap(256, 256, [](int s, int t) { return s < 128 && t < 128 ? 0 : 255; });
  const glm::vec2 start{2.4f, 0.0f};
  const CameraMatrices camera = TopDownCamera(start, glm::vec2(0.48f, 0.27f));
  const Tile lowerLeft = TileNear(start + glm::vec2(-0.2f, -0.07f));
  const Tile lowerRight = TileNear(start + glm::vec2(0.2f, -0.07f));
  const Tile upperLeft = TileNear(start + glm::vec2(-0.2f, 0.07f));
  const Tile upperRight = TileNear(start + glm::vec2(0.2f, 0.07f));
  const std::array<float, 3> raised{0.02f, 0.02f, 0.02f}, flat{0.0f, 0.0f, 0.0f};

  // At 0 s the dark quarter begins just right of the start, in the lower half of the band.
  const Snapshot atZero = DrawTiles(camera, 0.0f);
  ExpectTile(camera, lowerRight, raised, textMint);
  ExpectTile(camera, lowerLeft, flat, tileGrey);
  ExpectTile(camera, upperRight, flat, tileGrey);
  ExpectTile(camera, upperLeft, flat, tileGrey);

  // It moves left at 0.05 grid widths a second: at 5 s the dark quarter spans the view, at
  // 10 s it ends at the start.
  DrawTiles(camera, 5.0f);
  ExpectTile(camera, lowerLeft, raised, textMint);
  ExpectTile(camera, lowerRight, raised, textMint);
  ExpectTile(camera, upperLeft, flat, tileGrey);
  DrawTiles(camera, 10.0f);
  ExpectTile(camera, lowerLeft, raised, textMint);
  ExpectTile(camera, lowerRight, flat, tileGrey);
  ExpectTile(camera, upperLeft, flat, tileGrey);

  EXPECT_LE(CountDifferingPixels(DrawTiles(camera, 20.0f), atZero), fewPixels) << "after 20 s";
  // The tile pass sets heightMapHeight 0.5; no other value changes the picture either.
  for (const float heightMapHeight : {0.0f, 40.0f}) {
    ClearTarget();
    DrawLiftedTiles(tileProgram, tileUniforms, camera, 0.0f, heightMapHeight);
    EXPECT_EQ(CountDifferingPixels(TakeSnapshot(true), atZero), 0)
        << "heightMapHeight " << heightMapHeight;
  }
}

}  // namespace
