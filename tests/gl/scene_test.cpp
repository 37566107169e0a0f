// The scene's passes and light shafts drawn on the real mesh and programs, read back against
// the expected colours, lifts and mask.
#include "app/scene.h"

#include <gtest/gtest.h>

#include <array>
#include <glm/ext/matrix_clip_space.hpp>
#include <glm/glm.hpp>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "render/frame.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"
#include "tests/gl/gl_test_context.h"

namespace {

constexpr int w = testWindowWidth, h = testWindowHeight;
constexpr glm::vec3 grey{0.5f}, mint{0.1f, 1.0f, 0.85f}, black{0.0f}, pink{0.9f, 0.5f, 0.5f};
constexpr float tolerance = 2.0f / 255.0f;  // colours come back as 8-bit channels
// Thresholds x 16 of the ordered dither, by window y mod 4 (rows from the bottom), then x mod 4.
constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

bool Near(glm::vec3 actual, glm::vec3 expected) {
  return glm::all(glm::lessThanEqual(glm::abs(actual - expected), glm::vec3(tolerance)));
}

// The window's colours, 0..1, bottom row first.
std::vector<glm::vec3> Colours(int x, int y, int width, int height) {
  std::vector<glm::vec3> colours(static_cast<std::size_t>(width) * height);
  glReadPixels(x, y, width, height, GL_RGB, GL_FLOAT, colours.data());
  return colours;
}

glm::vec2 Centroid(int row, int column) {
  const TileVertex* v = &tileVertices.at(3 * (std::size_t{1} * row * gridColumns + column));
  return glm::vec2(v[0].position[0] + v[1].position[0] + v[2].position[0],
                   v[0].position[1] + v[1].position[1] + v[2].position[1]) /
         3.0f;
}

// Frames tile (row, column) straight from above, closely, its centroid at the window's middle
// and depth 0..1 spanning lifts +0.1..-0.1; draws the light mask over a white one, then the tile
// pass. Reads back the window's colour and the lift at the centroid, and the mask's grey there,
// three quarters of the way to the tile's first corner and in the gap toward the next tile.
std::tuple<glm::vec3, float, std::array<float, 3>> Tile(int row, int column, float time) {
  const TileVertex& first = tileVertices.at(3 * (std::size_t{1} * row * gridColumns + column));
  const glm::vec2 centre = Centroid(row, column), half(0.03f, 0.03f * h / w),
                  corner(first.position[0], first.position[1]);
  const CameraMatrices camera{glm::mat4(1.0f), glm::mat4(1.0f),
                              glm::ortho(centre.x - half.x, centre.x + half.x, centre.y - half.y,
                                         centre.y + half.y, -0.1f, 0.1f)};
  glClearTexImage(lightMaskTexture, 0, GL_RGBA, GL_FLOAT, &glm::vec4(1.0f)[0]);
  DrawLightMaskPass(camera, time);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawTilePass(camera, time);
  float depth = -1.0f;
  glReadPixels(w / 2, h / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  std::array<float, 3> masks{};
  const glm::vec2 points[] = {centre, centre + 0.75f * (corner - centre),
                              (centre + Centroid(row, column + 1)) / 2.0f};
  for (int i = 0; i < 3; ++i) {
    const glm::ivec2 p = (1.0f + (points[i] - centre) / half) * glm::vec2(w / 2, h / 2);
    glGetTextureSubImage(lightMaskTexture, 0, p.x, p.y, 0, 1, 1, 1, GL_RED, GL_FLOAT, 4, &masks[i]);
  }
  return {Colours(w / 2, h / 2, 1, 1)[0], 0.1f - 0.2f * depth, masks};
}

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
    CreateScene(w, h);  // as the program starts, in the checkout: with the real picture
    PrepareFirstFrame();
  }
  void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }
};

TEST_F(Scene, BackdropIsATealGradientFromLeftToRight) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // Straight from above, framed exactly: it fills the window.
  DrawBackdropPass({glm::mat4(1.0f), glm::mat4(1.0f), glm::ortho(-8.0f, 8.0f, -4.5f, 4.5f)});
  for (const auto [x, glow] : {std::pair{0, 0.381f}, {240, 0.5f}, {479, 0.619f}}) {
    EXPECT_TRUE(Near(Colours(x, h / 2, 1, 1)[0], {0.0f, glow, 0.85f * glow})) << x;
  }
}

// What one tile shows, framed closely around it, at a time: its colour, its lift and its grey in
// the light mask; the gap beside it keeps the mask pass's clear. With no picture every lookup
// reads black, full height: the tiles whose centroids lie in the band (rows 77 to 178) rise by
// 0.02 and turn mint, the others stay grey, lifted only where a corner reaches into the band
// (0.05 a corner, a third of it at the centroid). In the mask every tile is at least 0.25 and
// lifted ones white, each one flat grey, except near the band's edges, where the mask alone fades
// them over 0.08 of the band (rows 77 and 178 dim, row 80 between). Red 140 everywhere gives height
// 0.451, about half the colour and the mask. A picture with a dark lower-left quarter starts with
// its left edge at 0.65 of the grid's width (x 2.4, between columns 637 and 662) and its middle row
// at the band's (between rows 126 and 129); it moves left by 0.05 grid widths a second and is back
// after 20 s.
TEST_F(Scene, TilesRiseAndTurnMintWhereThePictureIsDarkInsideTheBand) {
  const GLuint red140 = HeightMap(1, [](int, int) { return 140; }),
               quarter = HeightMap(256, [](int s, int t) { return s < 128 && t < 128 ? 0 : 255; });
  for (const auto [picture, time, row, column, colour, lift, maskLow, maskHigh] :
       {std::tuple{0u, 0.0f, 75, 500, grey, 0.0f, 0.25f, 0.25f},
        {0u, 0.0f, 76, 500, grey, 0.05f / 3, 0.25f, 0.25f},
        {0u, 0.0f, 77, 500, mint, 0.02f, 0.25f, 0.25f},
        {0u, 0.0f, 80, 500, mint, 0.02f, 0.3f, 0.95f},
        {0u, 0.0f, 128, 500, mint, 0.02f, 1.0f, 1.0f},
        {0u, 0.0f, 178, 500, mint, 0.02f, 0.25f, 0.25f},
        {0u, 0.0f, 179, 501, grey, 0.1f / 3, 0.25f, 0.25f},
        {red140, 0.0f, 128, 500, glm::vec3{0.3f, 0.75f, 0.675f}, 0.00902f, 0.627f, 0.627f},
        {quarter, 0.0f, 126, 637, grey, 0.0f, 0.25f, 0.25f},
        {quarter, 0.0f, 126, 662, mint, 0.02f, 1.0f, 1.0f},
        {quarter, 0.0f, 129, 662, grey, 0.0f, 0.25f, 0.25f},
        {quarter, 5.0f, 126, 637, mint, 0.02f, 1.0f, 1.0f},
        {quarter, 20.0f, 126, 637, grey, 0.0f, 0.25f, 0.25f},
        {quarter, 20.0f, 126, 662, mint, 0.02f, 1.0f, 1.0f}}) {
    SCOPED_TRACE(testing::Message() << picture << " " << time << " s " << row << " " << column);
    heightMapTexture = picture;
    const auto [seen, seenLift, masks] = Tile(row, column, time);
    EXPECT_TRUE(Near(seen, colour));
    EXPECT_NEAR(seenLift, lift, 5e-4f);
    EXPECT_TRUE(masks[0] >= maskLow - tolerance && masks[0] <= maskHigh + tolerance) << masks[0];
    EXPECT_NEAR(masks[1], masks[0], tolerance) << "one flat grey";
    EXPECT_EQ(masks[2], 0.0f);
  }
}

// Over a mask of grey m along its whole march a pixel gathers the ray colour 0.8 x (0.5718 m,
// 0.5718 m, 0.3 + 0.5718 m) and takes it whole where its blue exceeds the pixel's dither
// threshold, adding nothing elsewhere. It marches halfway toward the middle of the screen, so a
// mask white in its upper right quarter lights that quarter alone. The composite adds, saturates
// at 1, ignores depth and leaves depth testing on and blending off.
TEST_F(Scene, LightShaftsAddTheRayColourWhereItExceedsTheDitherThreshold) {
  // A mask's grey, its ray colour, and how many dither entries (from 0) take it.
  const std::tuple<float, glm::vec3, int> masks[] = {{0.0f, {0.0f, 0.0f, 0.24f}, 4},
                                                     {0.25f, {0.114f, 0.114f, 0.354f}, 6},
                                                     {1.0f, {0.457f, 0.457f, 0.697f}, 12}};
  // Which mask, whether only its upper right quarter, the window's colour before.
  const std::tuple<int, bool, glm::vec3> cases[] = {
      {0, false, black}, {1, false, black}, {2, false, black}, {2, false, pink}, {2, true, black}};
  for (const auto [mask, quarter, background] : cases) {
    SCOPED_TRACE(testing::Message() << "mask " << mask << " " << quarter << " " << background.r);
    const glm::vec4 grey(glm::vec3(std::get<0>(masks[mask])), 1.0f);
    glClearTexImage(lightMaskTexture, 0, GL_RGBA, GL_FLOAT, &glm::vec4(0.0f, 0.0f, 0.0f, 1.0f)[0]);
    const glm::ivec2 low = quarter ? glm::ivec2(w, h) / 2 : glm::ivec2(0);
    glClearTexSubImage(lightMaskTexture, 0, low.x, low.y, 0, w - low.x, h - low.y, 1, GL_RGBA,
                       GL_FLOAT, &grey[0]);
    glClearColor(background.r, background.g, background.b, 1.0f);
    glClearDepth(0.0);  // a depth-tested composite would draw nothing
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    DrawLightShaftComposite();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    const auto window = Colours(0, 0, w, h);
    int wrong = 0, first = 0;
    for (int i = 0; i < w * h; ++i) {
      const int x = i % w, y = i / w, entry = bayer[y & 3][x & 3];
      if (quarter && (std::abs(x - w / 2) < 3 || std::abs(y - h / 2) < 3)) continue;  // edges
      const auto [_, lit, entries] = masks[quarter && (x < w / 2 || y < h / 2) ? 0 : mask];
      if (!Near(window[i], glm::min(background + (entry < entries ? lit : black), 1.0f))) {
        first = wrong++ ? first : i;
      }
    }
    EXPECT_EQ(wrong, 0) << "first at (" << first % w << ", " << first / w << "), blue "
                        << window[first].b;
  }
}

// A whole frame is the teal clear, the backdrop and the tiles, with the shafts added last: pixels
// whose dither entry is 12 or more show the scene unchanged, entry-0 pixels at least 0.23 bluer.
TEST_F(Scene, AFrameAddsTheShaftsOverTheBackdropAndTiles) {
  RenderFrame(w, h, 3.0f);
  const auto frame = Colours(0, 0, w, h);  // the frame leaves the clear colour teal
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawBackdropPass(ComputeCameraMatrices(w, h));
  DrawTilePass(ComputeCameraMatrices(w, h), 3.0f);
  const auto scene = Colours(0, 0, w, h);
  int wrong = 0;
  for (int i = 0; i < w * h; ++i) {
    const int entry = bayer[i / w & 3][i % w & 3];
    wrong += entry >= 12 && frame[i] != scene[i];
    wrong += entry == 0 && frame[i].b < 1.0f && frame[i].b < scene[i].b + 0.23f;
  }
  EXPECT_EQ(wrong, 0);
}

// A frame of another size than the light mask's first gives the mask its size: each frame equals
// the one drawn with a mask made at that size, as at start-up, whatever size came before, on the
// same texture. A size of 0 in either direction (a minimised window) keeps the mask as it is.
TEST_F(Scene, TheLightMaskTakesEachFramesSize) {
  const std::pair<int, int> sizes[] = {{w / 2, h / 3}, {w, h}};
  std::vector<glm::vec3> expected[2];
  for (const int i : {0, 1}) {
    glDeleteTextures(1, &lightMaskTexture);
    glDeleteFramebuffers(1, &lightMaskFramebuffer);
    CreateLightMaskTarget(sizes[i].first, sizes[i].second);
    RenderFrame(sizes[i].first, sizes[i].second, 6.0f);
    expected[i] = Colours(0, 0, sizes[i].first, sizes[i].second);
  }
  const GLuint texture = lightMaskTexture;
  const auto maskSize = [] {
    std::pair<int, int> size;
    glGetTextureLevelParameteriv(lightMaskTexture, 0, GL_TEXTURE_WIDTH, &size.first);
    glGetTextureLevelParameteriv(lightMaskTexture, 0, GL_TEXTURE_HEIGHT, &size.second);
    return size;
  };
  for (const int i : {0, 1, 0}) {
    RenderFrame(sizes[i].first, sizes[i].second, 6.0f);
    EXPECT_EQ(maskSize(), sizes[i]);
    EXPECT_TRUE(Colours(0, 0, sizes[i].first, sizes[i].second) == expected[i]) << i;
  }
  RenderFrame(0, h, 6.0f);
  RenderFrame(w, 0, 6.0f);
  EXPECT_EQ(maskSize(), sizes[0]);
  EXPECT_EQ(lightMaskTexture, texture);
}

// The live GL objects among the names below 4096, as (the glIs* that knows them, name).
std::set<std::pair<PFNGLISBUFFERPROC, GLuint>> LiveObjects() {
  std::set<std::pair<PFNGLISBUFFERPROC, GLuint>> live;
  for (GLuint name = 1; name < 4096; ++name) {
    for (const auto is : {glIsBuffer, glIsVertexArray, glIsTexture, glIsFramebuffer,
                          glIsRenderbuffer, glIsProgram, glIsShader}) {
      if (is(name)) live.emplace(is, name);
    }
  }
  return live;
}

// glad's entry points that make GL objects or names (its pointers are the program's too), each
// replaceable by one that counts its calls.
int made = 0;
template <auto& entry>
decltype(+entry) original;
template <auto& entry, typename R, typename... A>
R Counted(A... args) {
  return ++made, original<entry>(args...);
}
template <auto& entry, typename R, typename... A>
void Count(R (*)(A...)) {
  original<entry> = std::exchange(entry, Counted<entry, R, A...>);
}
template <auto&... entries>
void CountWhileMaking(auto frames) {
  (Count<entries>(entries), ...);
  frames();
  ((entries = original<entries>), ...);
}

// Frames make no GL object and take no name.
TEST_F(Scene, FramesMakeNoGlObject) {
  CountWhileMaking<glad_glGenBuffers, glad_glGenTextures, glad_glGenVertexArrays,
                   glad_glGenFramebuffers, glad_glGenRenderbuffers, glad_glGenSamplers,
                   glad_glGenQueries, glad_glCreateBuffers, glad_glCreateTextures,
                   glad_glCreateVertexArrays, glad_glCreateFramebuffers, glad_glCreateRenderbuffers,
                   glad_glCreateSamplers, glad_glCreateProgram, glad_glCreateShader>([] {
    for (const float time : {1.0f, 2.0f, 3.0f}) RenderFrame(w, h, time);
  });
  EXPECT_EQ(made, 0);
}

// Shutdown deletes every GL object that start-up made (shaders once linked) but the screen quad's
// two and the height map, which the context releases with itself.
TEST(SceneLifetime, ShutdownDeletesWhatStartUpMadeButWhatTheContextReleases) {
  auto expected = LiveObjects();
  CreateScene(w, h);
  expected.insert({{glIsBuffer, screenQuadVbo},
                   {glIsVertexArray, screenQuadVao},
                   {glIsTexture, heightMapTexture}});
  DeleteScene();
  EXPECT_EQ(LiveObjects(), expected);
}

}  // namespace
