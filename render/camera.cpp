#include "render/camera.h"

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>

namespace {

constexpr float tiltRadians = -0.43633232f;  // -25 degrees about +X: the top edge moves away
constexpr float verticalFieldOfView = 2.0f * 0.3926991f;  // 45 degrees
constexpr float nearPlane = 0.1f;
constexpr float farPlane = 100.0f;

glm::mat4 model{1.0f};
glm::mat4 view{1.0f};

}  // namespace

void ComputeCameraConstants() {
  model = glm::rotate(glm::mat4(1.0f), tiltRadians, glm::vec3(1.0f, 0.0f, 0.0f));
  view = glm::lookAt(glm::vec3(0.0f, 0.0f, 2.5f), glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));
}

CameraMatrices ComputeCameraMatrices(int pixelWidth, int pixelHeight) {
  const bool hasArea = pixelWidth > 0 && pixelHeight > 0;
  const float aspect =
      hasArea ? static_cast<float>(pixelWidth) / static_cast<float>(pixelHeight) : 1.0f;
  return {model, view, glm::perspective(verticalFieldOfView, aspect, nearPlane, farPlane)};
}
