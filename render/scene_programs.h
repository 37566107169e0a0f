// The four GPU programs of the scene and the uniform locations looked up right after linking.
#pragma once

#include "render/gl_api.h"

// Locations of the non-sampler uniforms that the frame code sets; -1 where the program lacks
// the name (setting -1 is a no-op in GL). Each program fills only the fields it declares.
struct UniformSet {
  GLint model = -1;
  GLint view = -1;
  GLint projection = -1;
  GLint tileMovementStrength = -1;
  GLint cornerMovementStrength = -1;
  GLint heightMapHeight = -1;
  GLint time = -1;
  GLint lightPosition = -1;
};

extern GLuint tileProgram, backdropProgram, lightMaskProgram, lightShaftProgram;
extern UniformSet tileUniforms, backdropUniforms, lightMaskUniforms, lightShaftUniforms;

// Builds tileProgram, backdropProgram, lightMaskProgram and lightShaftProgram in that order,
// each followed at once by the look-up of its uniform locations. Labels each program.
void BuildScenePrograms();
