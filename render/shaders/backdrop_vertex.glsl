#version 460 core

layout(location = 0) in vec3 aPosition;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;

out float vHeightInfluence;

void main() {
  vHeightInfluence = sin(aPosition.x * 0.5) * cos(aPosition.y * 0.5);
  gl_Position = projection * view * model * vec4(aPosition, 1.0);
}
