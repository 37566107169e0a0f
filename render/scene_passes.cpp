#include "render/scene_passes.h"

#include <glm/gtc/type_ptr.hpp>

#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"

GLuint heightMapTexture;

namespace {

constexpr float tileMovementStrength = 0.02f;
constexpr float cornerMovementStrength = 0.05f;
constexpr float tilePassHeightMapHeight = 0.5f;

void SetCameraUniforms(const UniformSet& uniforms, const CameraMatrices& camera) {
  glUniformMatrix4fv(uniforms.model, 1, GL_FALSE, glm::value_ptr(camera.model));
  glUniformMatrix4fv(uniforms.view, 1, GL_FALSE, glm::value_ptr(camera.view));
  glUniformMatrix4fv(uniforms.projection, 1, GL_FALSE, glm::value_ptr(camera.projection));
}

}  // namespace

void DrawBackdropPass(const CameraMatrices& camera) {
  glUseProgram(backdropProgram);
  SetCameraUniforms(backdropUniforms, camera);
  glBindVertexArray(backdropVao);
  glDrawArrays(GL_TRIANGLES, 0, 6);
}

void DrawTilePass(const CameraMatrices& camera, float time) {
  DrawLiftedTiles(tileProgram, tileUniforms, camera, time, tilePassHeightMapHeight);
}

void DrawLiftedTiles(GLuint program, const UniformSet& uniforms, const CameraMatrices& camera,
                     float time, float heightMapHeight) {
  glUseProgram(program);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, heightMapTexture);
  glUniform1i(glGetUniformLocation(program, "heightMap"), 0);
  SetCameraUniforms(uniforms, camera);
  glUniform1f(uniforms.tileMovementStrength, tileMovementStrength);
  glUniform1f(uniforms.cornerMovementStrength, cornerMovementStrength);
  glUniform1f(uniforms.heightMapHeight, heightMapHeight);
  glUniform1f(uniforms.time, time);
  glBindVertexArray(tileVao);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(tileVertices.size()));
}
