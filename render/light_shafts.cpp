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

namespace {

// The mask's pixel size as last specified.
int lightMaskWidth = 0, lightMaskHeight = 0;

// Gives the mask texture empty storage of the given size and checks the framebuffer that draws
// into it. Leaves the texture bound and the default framebuffer bound.
void SpecifyLightMaskStorage(int pixelWidth, int pixelHeight) {
  glBindTexture(GL_TEXTURE_2D, lightMaskTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, pixelWidth, pixelHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               nullptr);
  lightMaskWidth = pixelWidth;
  lightMaskHeight = pixelHeight;
  glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    std::fputs("Light mask framebuffer incomplete\n", stderr);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace

void CreateLightMaskTarget(int pixelWidth, int pixelHeight) {
  glGenTextures(1, &lightMaskTexture);
  glBindTexture(GL_TEXTURE_2D, lightMaskTexture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

  glGenFramebuffers(1, &lightMaskFramebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, lightMaskFramebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, lightMaskTexture, 0);
  SpecifyLightMaskStorage(pixelWidth, pixelHeight);
  LABEL_GL_OBJECT(GL_TEXTURE, lightMaskTexture, "light mask");
  LABEL_GL_OBJECT(GL_FRAMEBUFFER, lightMaskFramebuffer, "light mask");
}

void FitLightMaskTarget(int pixelWidth, int pixelHeight) {
  if (pixelWidth == lightMaskWidth && pixelHeight == lightMaskHeight) return;
  if (pixelWidth <= 0 || pixelHeight <= 0) return;  // a minimised window: keep what there is
  SpecifyLightMaskStorage(pixelWidth, pixelHeight);
}

void DrawLightMaskPass(const CameraMatrices& camera, float time) {
  // The viewport stays the window's, which is the mask's size (FitLightMaskTarget).
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
