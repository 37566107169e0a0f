// The fixed camera: the surface tilted back by 25 degrees, seen from 2.5 units away through a
// 45-degree perspective whose aspect follows the window.
#pragma once

#include <glm/mat4x4.hpp>

struct CameraMatrices {
  glm::mat4 model;
  glm::mat4 view;
  glm::mat4 projection;
};

// Computes the parts of the camera that never change; called once before the main loop.
void ComputeCameraConstants();

// The three matrices for a window of the given pixel size. A size of zero in either direction
// (a minimised window) has no finite aspect: the projection then uses an aspect of 1.
CameraMatrices ComputeCameraMatrices(int pixelWidth, int pixelHeight);
