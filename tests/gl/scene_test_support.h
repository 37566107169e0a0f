// Shared by the scene GL tests: the scene set-up, test cameras, synthetic height maps, tile
// look-ups and probes that compare a rendered pixel with the tile expected under it.
#pragma once

#include <glad/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_projection.hpp>
#include <glm/glm.hpp>
#include <vector>

#include "app/scene.h"
#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "render/camera.h"
#include "render/scene_programs.h"
#include "tests/gl/gl_test_context.h"

// Colours come back as 8-bit channels: compared within 2/255.
inline constexpr float colourTolerance = 2.0f / 255.0f;
// A lift read back through the depth buffer, in model units (the full lift is 0.02).
inline constexpr double liftTolerance = 5e-4;

struct Rgb {
  float r, g, b;
};

inline constexpr Rgb tileGrey{0.5f, 0.5f, 0.5f};
inline constexpr Rgb textMint{0.1f, 1.0f, 0.85f};

// The grid, the meshes, the light-mask target of the window's size and the programs, with the
// state of the first frame. No picture is loaded: heightMapTexture stays 0 until a test sets it.
inline void CreateTestScene() {
  BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  CreateGpuResources(testWindowWidth, testWindowHeight);
  BuildScenePrograms();
  PrepareFirstFrame();
}

inline CameraMatrices RealCamera() {
  return ComputeCameraMatrices(testWindowWidth, testWindowHeight);
}

// Straight down on the surface plane: the model-space rectangle centre +- size / 2 fills the
// window, and depth spans z from +0.1 (depth 0) to -0.1 (depth 1).
inline CameraMatrices TopDownCamera(glm::vec2 centre, glm::vec2 size) {
  const glm::vec2 low = centre - 0.5f * size, high = centre + 0.5f * size;
  return {glm::mat4(1.0f), glm::mat4(1.0f), glm::ortho(low.x, high.x, low.y, high.y, -0.1f, 0.1f)};
}

// A single-channel height map of width x height texels, repeating and bilinear like the loaded
// picture (base level only). red(s, t) gives the byte of texel s of row t, row 0 at the bottom.
template <typename RedOf>
GLuint CreateHeightMap(int width, int height, RedOf red) {
  std::vector<unsigned char> texels(static_cast<std::size_t>(width) * height);
  for (int t = 0; t < height; ++t) {
    for (int s = 0; s < width; ++s) texels[static_cast<std::size_t>(t) * width + s] = red(s, t);
  }
  GLuint texture = 0;
  glCreateTextures(GL_TEXTURE_2D, 1, &texture);
  glTextureStorage2D(texture, 1, GL_R8, width, height);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTextureSubImage2D(texture, 0, 0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, texels.data());
  glTextureParameteri(texture, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTextureParameteri(texture, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return texture;
}

// Horizontal stripes across the band, uniform along the picture's width: stripe k covers
// local band heights k/6 .. (k+1)/6 and has red byte stripeReds[k]. Stripe 0 lies below the
// bottom of the screen under the real camera.
inline constexpr int stripeCount = 6;
inline constexpr std::array<unsigned char, stripeCount> stripeReds{255, 0, 51, 140, 230, 255};

inline GLuint CreateStripedHeightMap() {
  return CreateHeightMap(4, 10 * stripeCount, [](int, int t) { return stripeReds[t / 10]; });
}

// Grid v (0 bottom, 1 top) of the middle of stripe k: the band spans v 0.3 .. 0.7.
inline float StripeCentreV(int k) {
  return 0.3f + 0.4f * (k + 0.5f) / stripeCount;
}

struct Tile {
  std::array<glm::vec2, 3> corners;  // the shrunk positions, z = 0 before lifting
  glm::vec2 centroid;
  glm::vec2 uv;  // tileUv
};

inline Tile TileAt(int row, int column) {
  const std::size_t first = 3 * (static_cast<std::size_t>(row) * gridColumns + column);
  Tile tile{};
  for (int i = 0; i < 3; ++i) {
    const TileVertex& vertex = tileVertices.at(first + i);
    tile.corners[i] = {vertex.position[0], vertex.position[1]};
  }
  tile.centroid = (tile.corners[0] + tile.corners[1] + tile.corners[2]) / 3.0f;
  tile.uv = {tileVertices[first].tileUv[0], tileVertices[first].tileUv[1]};
  return tile;
}

// The tile whose centroid lies nearest a model-space point.
inline Tile TileNear(glm::vec2 point) {
  int nearestRow = 0, nearestColumn = 0;
  float nearestDistance = INFINITY;
  for (int row = 0; row < gridRows; ++row) {
    for (int column = 0; column < gridColumns; ++column) {
      const TileVertex* vertex = &tileVertices[3 * (std::size_t{1} * row * gridColumns + column)];
      const glm::vec2 centroid =
          glm::vec2(vertex[0].position[0] + vertex[1].position[0] + vertex[2].position[0],
                    vertex[0].position[1] + vertex[1].position[1] + vertex[2].position[1]) /
          3.0f;
      if (const float distance = glm::distance(centroid, point); distance < nearestDistance) {
        nearestDistance = distance;
        nearestRow = row;
        nearestColumn = column;
      }
    }
  }
  return TileAt(nearestRow, nearestColumn);
}

inline glm::dvec4 WindowViewport() {
  return {0.0, 0.0, testWindowWidth, testWindowHeight};
}

// Window coordinates (x, y in pixels, depth 0..1) of a model-space point.
inline glm::dvec3 WindowPoint(const CameraMatrices& camera, glm::vec3 point) {
  return glm::project(glm::dvec3(point), glm::dmat4(camera.view * camera.model),
                      glm::dmat4(camera.projection), WindowViewport());
}

// The model-space point seen at the centre of pixel (x, y) with the given window depth.
inline glm::dvec3 ModelPointAt(const CameraMatrices& camera, int x, int y, float depth) {
  return glm::unProject(glm::dvec3(x + 0.5, y + 0.5, depth), glm::dmat4(camera.view * camera.model),
                        glm::dmat4(camera.projection), WindowViewport());
}

inline float ReadDepth(int x, int y) {
  float depth = -1.0f;
  glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  return depth;
}

inline glm::ivec2 PixelAt(const CameraMatrices& camera, glm::vec3 point) {
  const glm::dvec3 window = WindowPoint(camera, point);
  return {static_cast<int>(std::floor(window.x)), static_cast<int>(std::floor(window.y))};
}

// Among the tiles of `row` in the middle columns, the one whose lifted centroid projects
// closest to a pixel centre, so that its pixel lies well inside it even where tiles are only a
// few pixels wide.
inline Tile BestCentredTile(const CameraMatrices& camera, int row, float lift) {
  Tile best = TileAt(row, 495);
  double bestOffset = 2.0;
  for (int column = 495; column <= 505; ++column) {
    const Tile tile = TileAt(row, column);
    const glm::dvec3 window = WindowPoint(camera, glm::vec3(tile.centroid, lift));
    const double offset = glm::length(glm::dvec2(window) - glm::floor(glm::dvec2(window)) - 0.5);
    if (offset < bestOffset) {
      best = tile;
      bestOffset = offset;
    }
  }
  return best;
}

// The row of tiles that spans grid v.
inline int RowAtV(float v) {
  return static_cast<int>(v * gridRows);
}

inline void ExpectColour(const std::array<float, 4>& actual, Rgb expected) {
  EXPECT_NEAR(actual[0], expected.r, colourTolerance);
  EXPECT_NEAR(actual[1], expected.g, colourTolerance);
  EXPECT_NEAR(actual[2], expected.b, colourTolerance);
}

// Expects the pixel under the tile's lifted centroid, in the bound read framebuffer (colour and
// depth), to show `colour` and to lie on the tile lifted by `lifts` at its three corners.
inline void ExpectTile(const CameraMatrices& camera, const Tile& tile,
                       const std::array<float, 3>& lifts, Rgb colour) {
  const float centroidLift = (lifts[0] + lifts[1] + lifts[2]) / 3.0f;
  const glm::ivec2 pixel = PixelAt(camera, glm::vec3(tile.centroid, centroidLift));
  SCOPED_TRACE(::testing::Message() << "tile at uv (" << tile.uv.x << ", " << tile.uv.y
                                    << "), pixel (" << pixel.x << ", " << pixel.y << ")");
  ExpectColour(ReadPixel(pixel.x, pixel.y), colour);

  // Barycentric weights of the seen point within the tile's outline give the lift expected
  // there; the lift only moves the corners along z.
  const glm::dvec3 seen = ModelPointAt(camera, pixel.x, pixel.y, ReadDepth(pixel.x, pixel.y));
  const glm::dvec2 a(tile.corners[0]), b(tile.corners[1]), c(tile.corners[2]);
  const glm::dvec2 p(seen);
  const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
  const double wb = ((p.x - a.x) * (c.y - a.y) - (c.x - a.x) * (p.y - a.y)) / area;
  const double wc = ((b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y)) / area;
  const double wa = 1.0 - wb - wc;
  EXPECT_GT(std::min({wa, wb, wc}), 0.0) << "the pixel does not show this tile";
  EXPECT_NEAR(seen.z, wa * lifts[0] + wb * lifts[1] + wc * lifts[2], liftTolerance);
}

// The whole bound read framebuffer: colour bytes and depth.
struct Snapshot {
  std::vector<std::array<unsigned char, 4>> colour;
  std::vector<float> depth;
};

inline Snapshot TakeSnapshot(bool withDepth) {
  Snapshot snapshot{ReadPixels(0, 0, testWindowWidth, testWindowHeight), {}};
  if (withDepth) {
    snapshot.depth.resize(snapshot.colour.size());
    glReadPixels(0, 0, testWindowWidth, testWindowHeight, GL_DEPTH_COMPONENT, GL_FLOAT,
                 snapshot.depth.data());
  }
  return snapshot;
}

// Pixels whose colour differs by more than the tolerance in any channel, or whose depth differs
// by more than 5e-4 (a lift of 1e-4 under the top-down camera: bilinear weights are quantised,
// so a shifted but equivalent sample position may move a tile on a slope very slightly).
inline int CountDifferingPixels(const Snapshot& a, const Snapshot& b) {
  int differing = 0;
  for (std::size_t i = 0; i < a.colour.size(); ++i) {
    bool same = true;
    for (int channel = 0; channel < 3; ++channel) {
      same = same && std::abs(a.colour[i][channel] - b.colour[i][channel]) <= 2;
    }
    if (!a.depth.empty()) same = same && std::abs(a.depth[i] - b.depth[i]) <= 5e-4f;
    if (!same) ++differing;
  }
  return differing;
}

// Two renderings that should match may still differ in a few pixels: a sample position reached
// by another float sum can round a quantised bilinear weight the other way, nudging a tile's
// edge or a ray's brightness across a pixel centre or threshold. At most 0.1 % of the window.
inline constexpr int fewPixels = testWindowWidth * testWindowHeight / 1000;

inline float SmoothStep(float edge0, float edge1, float x) {
  const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}
