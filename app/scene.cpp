#include "app/scene.h"

#include <string>

#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "loaders/texture.h"
#include "render/camera.h"
#include "render/gl_api.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"
#include "render/scene_programs.h"

namespace {

// Held as an owned string for the run.
std::string heightMapPath = "/textures/text1.jpg";

}  // namespace

void CreateScene(int pixelWidth, int pixelHeight) {
  BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  CreateSceneObjects(pixelWidth, pixelHeight);
}

void CreateSceneObjects(int pixelWidth, int pixelHeight) {
  CreateGpuResources(pixelWidth, pixelHeight);
  BuildScenePrograms();
  heightMapTexture = LoadTexture(heightMapPath.c_str());
}

void PrepareFirstFrame() {
  glEnable(GL_DEPTH_TEST);
  ComputeCameraConstants();
}

void DeleteScene() {
  glDeleteProgram(tileProgram);
  glDeleteBuffers(1, &tileVbo);
  glDeleteVertexArrays(1, &tileVao);
  glDeleteProgram(backdropProgram);
  glDeleteBuffers(1, &backdropVbo);
  glDeleteVertexArrays(1, &backdropVao);
  glDeleteTextures(1, &lightMaskTexture);
  glDeleteFramebuffers(1, &lightMaskFramebuffer);
  glDeleteProgram(lightMaskProgram);
  glDeleteProgram(lightShaftProgram);
}
