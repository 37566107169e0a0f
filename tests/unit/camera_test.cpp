#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace {

constexpr float tolerance = 1e-5f;

// glm matrices are indexed [column][row].
void ExpectMatrix(const glm::mat4& actual, const float (&expected)[4][4]) {
  for (int column = 0; column < 4; ++column) {
    for (int row = 0; row < 4; ++row) {
      EXPECT_NEAR(actual[column][row], expected[column][row], tolerance)
          << "column " << column << ", row " << row;
    }
  }
}

class Camera : public ::testing::Test {
 protected:
  void SetUp() override { ComputeCameraConstants(); }
};

TEST_F(Camera, TiltsTheSurfaceBackAndLooksAtItFromTwoAndAHalfUnits) {
  const CameraMatrices camera = ComputeCameraMatrices(1920, 1080);
  const float c = 0.9063078f, s = -0.4226183f;
  ExpectMatrix(camera.model, {{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}});
  ExpectMatrix(camera.view, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, -2.5f, 1}});
}

TEST_F(Camera, ProjectionFollowsTheWindowsAspect) {
  const float f = 2.4142136f;  // 1 / tan(22.5 degrees)
  for (auto [width, height] :
       {std::pair{1920, 1080}, std::pair{480, 270}, std::pair{1000, 1000}, std::pair{1080, 1920}}) {
    SCOPED_TRACE(::testing::Message() << width << " x " << height);
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    ExpectMatrix(
        ComputeCameraMatrices(width, height).projection,
        {{f / aspect, 0, 0, 0}, {0, f, 0, 0}, {0, 0, -1.002002f, -1}, {0, 0, -0.2002002f, 0}});
  }
  EXPECT_NEAR(ComputeCameraMatrices(1920, 1080).projection[0][0], 1.357995f, tolerance);
}

TEST_F(Camera, AWindowWithoutAreaStillGetsAFiniteProjection) {
  for (auto [width, height] : {std::pair{1920, 0}, std::pair{0, 0}, std::pair{0, 1080}}) {
    const glm::mat4 projection = ComputeCameraMatrices(width, height).projection;
    for (int column = 0; column < 4; ++column) {
      for (int row = 0; row < 4; ++row) {
        EXPECT_TRUE(std::isfinite(projection[column][row])) << width << " x " << height;
      }
    }
  }
}

// The bottom and top edges of a 16:9 screen meet the tilted surface near y = -0.96 and 1.42.
TEST_F(Camera, AWideWindowShowsTheMiddleOfTheSurface) {
  const CameraMatrices camera = ComputeCameraMatrices(1920, 1080);
  const glm::mat4 transform = camera.projection * camera.view * camera.model;
  auto screenY = [&](float surfaceY) {
    const glm::vec4 clip = transform * glm::vec4(0.0f, surfaceY, 0.0f, 1.0f);
    return clip.y / clip.w;
  };
  EXPECT_NEAR(screenY(-0.96f), -1.0f, 0.01f);
  EXPECT_NEAR(screenY(1.42f), 1.0f, 0.01f);
}

}  // namespace
