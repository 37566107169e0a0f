#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

// Model: -25 degrees about +X; view: 2.5 units back; projection: 45 degrees high, near 0.1, far
// 100, across the window's aspect (0: a window without area, whose matrices need only be finite).
TEST(Camera, TiltsTheSurfaceBackAndFollowsTheWindowsAspect) {
  ComputeCameraConstants();
  const float c = 0.9063078f, s = -0.4226183f, f = 2.4142136f;  // f = 1 / tan(22.5 degrees)
  const std::tuple<int, int, float> sizes[] = {
      {1920, 1080, 1.7777778f}, {1000, 1000, 1.0f}, {1080, 1920, 0.5625f},
      {1920, 0, 0.0f},          {0, 0, 0.0f},       {0, 1080, 0.0f}};
  for (const auto [width, height, aspect] : sizes) {
    const CameraMatrices camera = ComputeCameraMatrices(width, height);
    const glm::mat4 expected[] = {
        {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1},
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -2.5f, 1},
        {f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, -1.002002f, -1, 0, 0, -0.2002002f, 0}};
    const glm::mat4 actual[] = {camera.model, camera.view, camera.projection};
    for (int i = 0; i < 48; ++i) {  // column by column
      const float value = actual[i / 16][i % 16 / 4][i % 4];
      EXPECT_TRUE(std::isfinite(value)) << width << " x " << height << ", entry " << i;
      if (aspect > 0.0f) {
        EXPECT_NEAR(value, expected[i / 16][i % 16 / 4][i % 4], 1e-5f)
            << width << " x " << height << ", entry " << i;
      }
    }
  }
}
