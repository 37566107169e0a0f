#include "render/scene_programs.h"

#include "render/shader_builder.h"
#include "shader_sources.h"

GLuint tileProgram, backdropProgram, lightMaskProgram, lightShaftProgram;
UniformSet tileUniforms, backdropUniforms, lightMaskUniforms, lightShaftUniforms;

namespace {

UniformSet LookUpCameraUniforms(GLuint program) {
  UniformSet uniforms;
  uniforms.model = glGetUniformLocation(program, "model");
  uniforms.view = glGetUniformLocation(program, "view");
  uniforms.projection = glGetUniformLocation(program, "projection");
  return uniforms;
}

// The tile program and the light-mask program declare the same uniforms.
UniformSet LookUpTileUniforms(GLuint program) {
  UniformSet uniforms = LookUpCameraUniforms(program);
  uniforms.tileMovementStrength = glGetUniformLocation(program, "tileMovementStrength");
  uniforms.cornerMovementStrength = glGetUniformLocation(program, "cornerMovementStrength");
  uniforms.heightMapHeight = glGetUniformLocation(program, "heightMapHeight");
  uniforms.time = glGetUniformLocation(program, "time");
  return uniforms;
}

UniformSet LookUpLightShaftUniforms(GLuint program) {
  UniformSet uniforms;
  uniforms.lightPosition = glGetUniformLocation(program, "lightPosition");
  return uniforms;
}

}  // namespace

void BuildScenePrograms() {
  CreateProgram(tileProgram, tileVertexSource, tileFragmentSource);
  tileUniforms = LookUpTileUniforms(tileProgram);
  CreateProgram(backdropProgram, backdropVertexSource, backdropFragmentSource);
  backdropUniforms = LookUpCameraUniforms(backdropProgram);
  CreateProgram(lightMaskProgram, lightMaskVertexSource, lightMaskFragmentSource);
  lightMaskUniforms = LookUpTileUniforms(lightMaskProgram);
  CreateProgram(lightShaftProgram, lightShaftVertexSource, lightShaftFragmentSource);
  lightShaftUniforms = LookUpLightShaftUniforms(lightShaftProgram);

  LABEL_GL_OBJECT(GL_PROGRAM, tileProgram, "tile program");
  LABEL_GL_OBJECT(GL_PROGRAM, backdropProgram, "backdrop program");
  LABEL_GL_OBJECT(GL_PROGRAM, lightMaskProgram, "light-mask program");
  LABEL_GL_OBJECT(GL_PROGRAM, lightShaftProgram, "light-shaft program");
}
