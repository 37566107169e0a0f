#include "geometry/tile_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// The tables give five or six significant digits.
constexpr float tableTolerance = 2e-5f;

struct ExpectedVertex {
  int element;
  float x, y, cornerU, cornerV, tileU, tileV;
};

void ExpectVertex(const ExpectedVertex& e) {
  SCOPED_TRACE(::testing::Message() << "element " << e.element);
  const TileVertex& v = tileVertices.at(e.element);
  EXPECT_NEAR(v.position[0], e.x, tableTolerance);
  EXPECT_NEAR(v.position[1], e.y, tableTolerance);
  EXPECT_EQ(v.position[2], 0.0f);
  EXPECT_NEAR(v.cornerUv[0], e.cornerU, tableTolerance);
  EXPECT_NEAR(v.cornerUv[1], e.cornerV, tableTolerance);
  EXPECT_NEAR(v.tileUv[0], e.tileU, tableTolerance);
  EXPECT_NEAR(v.tileUv[1], e.tileV, tableTolerance);
}

TEST(TileGrid, SmallGridWhereTheHeightLimitsMatchesTheWorkedExample) {
  BuildTriangleGrid(3, 2, 16.0f, 9.0f, 0.08f);
  ASSERT_EQ(tileVertices.size(), 18u);
  const ExpectedVertex expected[] = {
      {0, -4.98831f, -4.38f, 0.0f, 0.0f, 0.25f, 0.166667f},
      {1, -0.207846f, -4.38f, 0.5f, 0.0f, 0.25f, 0.166667f},
      {2, -2.59808f, -0.24f, 0.25f, 0.5f, 0.25f, 0.166667f},
      {3, -2.39023f, -0.12f, 0.25f, 0.5f, 0.5f, 0.333333f},
      {4, 0.0f, -4.26f, 0.5f, 0.0f, 0.5f, 0.333333f},
      {5, 2.39023f, -0.12f, 0.75f, 0.5f, 0.5f, 0.333333f},
      {9, -4.98831f, 4.38f, 0.0f, 1.0f, 0.25f, 0.833333f},
      {10, -2.59808f, 0.24f, 0.25f, 0.5f, 0.25f, 0.833333f},
      {11, -0.207846f, 4.38f, 0.5f, 1.0f, 0.25f, 0.833333f},
  };
  for (const ExpectedVertex& e : expected) ExpectVertex(e);
}

TEST(TileGrid, NoColumnsOrNoRowsEmptiesTheList) {
  for (auto [columns, rows] :
       {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 2}, std::pair{2, -1}}) {
    BuildTriangleGrid(3, 2, 16.0f, 9.0f, 0.08f);
    BuildTriangleGrid(columns, rows, 16.0f, 9.0f, 0.08f);
    EXPECT_TRUE(tileVertices.empty()) << columns << " x " << rows;
  }
}

TEST(TileGrid, GapIsClampedToTheRangeZeroToNineTenths) {
  BuildTriangleGrid(3, 2, 16.0f, 9.0f, 0.08f);
  const std::vector<TileVertex> regular = tileVertices;

  // A negative gap counts as none: every corner lies on the lattice.
  BuildTriangleGrid(3, 2, 16.0f, 9.0f, -1.0f);
  ExpectVertex({0, -5.19615f, -4.5f, 0.0f, 0.0f, 0.25f, 0.166667f});
  ExpectVertex({2, -2.59808f, 0.0f, 0.25f, 0.5f, 0.25f, 0.166667f});

  // A gap above 0.9 counts as 0.9: a tenth of the tile remains around its centroid.
  BuildTriangleGrid(3, 2, 16.0f, 9.0f, 5.0f);
  const float shrink = 1.0f - 0.9f;
  const float cx = -2.59808f, cy = -4.5f + 1.5f;
  ExpectVertex({0, cx + (-5.19615f - cx) * shrink, cy + (-4.5f - cy) * shrink, 0.0f, 0.0f, 0.25f,
                0.166667f});

  // Texture coordinates never depend on the gap.
  ASSERT_EQ(tileVertices.size(), regular.size());
  for (std::size_t i = 0; i < regular.size(); ++i) {
    EXPECT_EQ(tileVertices[i].cornerUv[0], regular[i].cornerUv[0]);
    EXPECT_EQ(tileVertices[i].cornerUv[1], regular[i].cornerUv[1]);
    EXPECT_EQ(tileVertices[i].tileUv[0], regular[i].tileUv[0]);
    EXPECT_EQ(tileVertices[i].tileUv[1], regular[i].tileUv[1]);
  }
}

class ProgramGrid : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  }
};

TEST_F(ProgramGrid, HasOneTilePerColumnAndRowWithItsCornerCoordinatesSpanningTheGrid) {
  ASSERT_EQ(tileVertices.size(), 768000u);
  EXPECT_EQ(tileVertices.front().cornerUv[0], 0.0f);
  EXPECT_EQ(tileVertices.front().cornerUv[1], 0.0f);
  // The last tile (row 255, column 999) points up and ends with its top corner.
  EXPECT_NEAR(tileVertices.back().cornerUv[0], 0.999001f, 1e-6f);
  EXPECT_NEAR(tileVertices.back().cornerUv[1], 1.0f, 1e-6f);

  float maxX = 0.0f, maxY = 0.0f;
  for (const TileVertex& v : tileVertices) {
    maxX = std::max(maxX, std::abs(v.position[0]));
    maxY = std::max(maxY, std::abs(v.position[1]));
    ASSERT_EQ(v.position[2], 0.0f);
  }
  EXPECT_NEAR(maxX, 7.99872f, 1e-4f);
  EXPECT_NEAR(maxY, 3.54296f, 1e-4f);
}

TEST_F(ProgramGrid, EachTileHasOneCentroidOneThirdOfARowFromItsFlatEdge) {
  const float rowV = 1.0f / gridRows;
  for (std::size_t tile = 0; tile < tileVertices.size() / 3; ++tile) {
    const TileVertex* v = &tileVertices[3 * tile];
    ASSERT_EQ(v[0].tileUv[0], v[1].tileUv[0]) << "tile " << tile;
    ASSERT_EQ(v[0].tileUv[1], v[2].tileUv[1]) << "tile " << tile;
    ASSERT_EQ(v[0].tileUv[0], v[2].tileUv[0]) << "tile " << tile;
    ASSERT_EQ(v[0].tileUv[1], v[1].tileUv[1]) << "tile " << tile;
    const int row = static_cast<int>(tile / gridColumns);
    const int column = static_cast<int>(tile % gridColumns);
    const bool up = (row + column) % 2 == 0;
    const float expected = (static_cast<float>(row) + (up ? 1.0f / 3.0f : 2.0f / 3.0f)) * rowV;
    ASSERT_NEAR(v[0].tileUv[1], expected, 1e-5f) << "tile " << tile;
  }
}

TEST_F(ProgramGrid, ASharedLatticePointHasOneCornerCoordinateInEveryTileThatTouchesIt) {
  // Lattice points are (m, k): x = originX + m * side / 2, y = originY + k * rowHeight.
  std::map<std::pair<long, long>, std::pair<float, float>> first;
  std::map<std::pair<long, long>, int> touching;
  float worst = 0.0f;
  for (const TileVertex& v : tileVertices) {
    const float m = v.cornerUv[0] * (gridColumns + 1);
    const float k = v.cornerUv[1] * gridRows;
    ASSERT_NEAR(m, std::round(m), 2e-3f);
    ASSERT_NEAR(k, std::round(k), 2e-3f);
    const std::pair<long, long> key{std::lround(m), std::lround(k)};
    auto [it, inserted] = first.try_emplace(key, v.cornerUv[0], v.cornerUv[1]);
    ++touching[key];
    worst = std::max({worst, std::abs(it->second.first - v.cornerUv[0]),
                      std::abs(it->second.second - v.cornerUv[1])});
  }
  // Shrunk positions would differ by about 1.6e-4; float rounding stays far below that.
  EXPECT_LT(worst, 1e-6f);
  // An interior lattice point is a corner of six tiles.
  EXPECT_EQ((touching[{500, 128}]), 6);
  EXPECT_EQ((touching[{501, 127}]), 6);
}

}  // namespace
