#include "geometry/tile_grid.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

// Every grid is built over a 3 x 2 one, so each call must replace what was there. The 3 x 2 grid
// is limited by its height, the program's by its width; the gap is clamped to 0..0.9 (a tenth of
// each tile is left around its centroid) and changes no texture coordinate; a grid without
// columns or rows is empty.
TEST(TileGrid, CornersCoordinatesAndCentroidsOfEachGrid) {
  // Columns, rows, gap, vertex count, then one element: position x and y, cornerUv, tileUv.
  const std::tuple<int, int, float, std::size_t, int, std::array<float, 6>> cases[] = {
      {3, 2, 0.08, 18, 0, {-4.98831, -4.38, 0.0, 0.0, 0.25, 0.166667}},
      {3, 2, 0.08, 18, 1, {-0.207846, -4.38, 0.5, 0.0, 0.25, 0.166667}},
      {3, 2, 0.08, 18, 2, {-2.59808, -0.24, 0.25, 0.5, 0.25, 0.166667}},
      {3, 2, 0.08, 18, 3, {-2.39023, -0.12, 0.25, 0.5, 0.5, 0.333333}},
      {3, 2, 0.08, 18, 5, {2.39023, -0.12, 0.75, 0.5, 0.5, 0.333333}},
      {3, 2, 0.08, 18, 9, {-4.98831, 4.38, 0.0, 1.0, 0.25, 0.833333}},
      {3, 2, -1.0, 18, 0, {-5.19615, -4.5, 0.0, 0.0, 0.25, 0.166667}},
      {3, 2, -1.0, 18, 3, {-2.59808, 0.0, 0.25, 0.5, 0.5, 0.333333}},
      {3, 2, 5.0, 18, 0, {-2.85788, -3.15, 0.0, 0.0, 0.25, 0.166667}},
      {3, 2, 5.0, 18, 3, {-0.259808, -1.35, 0.25, 0.5, 0.5, 0.333333}},
      {1000, 256, 0.08, 768000, 0, {-7.99872, -3.54296, 0.0, 0.0, 0.000999, 0.0013021}},
      {1000, 256, 0.08, 768000, 767999, {7.98402, 3.54222, 0.999001, 1.0, 0.999001, 0.997396}},
      {0, 5, 0.08, 0, -1, {}},
      {5, 0, 0.08, 0, -1, {}},
      {-3, 2, 0.08, 0, -1, {}},
      {2, -1, 0.08, 0, -1, {}},
  };
  for (const auto& [columns, rows, gap, size, element, expected] : cases) {
    SCOPED_TRACE(::testing::Message()
                 << columns << " x " << rows << ", gap " << gap << ", element " << element);
    BuildTriangleGrid(3, 2, 16.0f, 9.0f, 0.08f);
    BuildTriangleGrid(columns, rows, 16.0f, 9.0f, gap);
    ASSERT_EQ(tileVertices.size(), size);
    if (element < 0) continue;
    const TileVertex& v = tileVertices[element];
    EXPECT_EQ(v.position[2], 0.0f);
    const float actual[] = {v.position[0], v.position[1], v.cornerUv[0],
                            v.cornerUv[1], v.tileUv[0],   v.tileUv[1]};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(actual[i], expected[i], 2e-5f) << "value " << i;
  }
}
