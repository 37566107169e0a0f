#include "render/light_shafts.h"

#include <cstdio>

#include "geometry/mesh_buffers.h"
#include "render/scene_passes.h"
#include "render/scene_programs.h"

GLuint lightMaskTexture, lightMaskFramebuffer;

namespace {

constexpr float lightMaskHeightMapHeight = 0.2f;
constexpr float lightPositionX = 0.5f;  // the middle of the screen
constexpr float lightPositionY = 0.5f;

}  // namespace

void CreateLightMaskTarget(int pixelWidth, int pixelHeight) {
  glGenTextures(1, &lightMaskTexture);
  glBindTexture(GL_TEXTURE_2D, lightMaskTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, pixelWidth, pixelHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

  glGenFramebuffers(1, &lightMaskFramebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, lightMaskTexture, 0);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    std::fputs("Light mask framebuffer incomplete\n", stderr);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);

  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  LABEL_GL_OBJECT(GL_TEXTURE, lightMaskTexture, "light mask");
  LABEL_GL_OBJECT(GL_FRAMEBUFFER, lightMaskFramebuffer, "light mask");
}

void DrawLightMaskPass(const CameraMatrices& camera, float time) {
  // The viewport stays the window's: the mask keeps its start-up size.
  glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  DrawLiftedTiles(lightMaskProgram, lightMaskUniforms, camera, time, lightMaskHeightMapHeight);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void DrawLightShaftComposite() {
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  glUseProgram(lightShaftProgram);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, lightMaskTexture);
  glUniform1i(glGetUniformLocation(lightShaftProgram, "lightMask"), 0);
  glUniform2f(lightShaftUniforms.lightPosition, lightPositionX, lightPositionY);
  glBindVertexArray(screenQuadVao);
  glDrawArrays(GL_TRIANGLES, 0, 6);
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);
}
