#version 460 core

layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec2 cornerUv;
layout(location = 2) in vec2 tileUv;

out float vTextMask;

const float feather = 0.08;

#include "lifted_tiles.glsl"

void main() {
  float cornerHeight = SampleHeightMap(cornerUv);
  float tileHeight = SampleHeightMap(tileUv);
  vTextMask = smoothstep(0.15, 0.75, tileHeight);
  gl_Position = LiftedPosition(aPosition, cornerHeight, tileHeight);
}
