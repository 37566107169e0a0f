#version 460 core

layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec2 aUv;
layout(location = 2) in vec2 aTileUv;

out float vTextMask;

const float feather = 0.0;

#include "lifted_tiles.glsl"

void main() {
  float cornerHeight = SampleHeightMap(aUv);
  float tileHeight = SampleHeightMap(aTileUv);
  vTextMask = tileHeight;
  gl_Position = LiftedPosition(aPosition, cornerHeight, tileHeight);
}
