#include "render/frame.h"

#include "render/camera.h"
#include "render/gl_api.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"

void RenderFrame(int pixelWidth, int pixelHeight, float time) {
  glViewport(0, 0, pixelWidth, pixelHeight);
  glClearColor(0.0f, 0.35f, 0.35f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  const CameraMatrices camera = ComputeCameraMatrices(pixelWidth, pixelHeight);
  FitLightMaskTarget(pixelWidth, pixelHeight);
  DrawLightMaskPass(camera, time);
  DrawBackdropPass(camera);
  DrawTilePass(camera, time);
  DrawLightShaftComposite();
}
