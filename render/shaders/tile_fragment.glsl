#version 460 core

in float vTextMask;

out vec4 FragColor;

const vec3 baseColor = vec3(0.5, 0.5, 0.5);
const vec3 textColor = vec3(0.1, 1.0, 0.85);

void main() {
  float textAmount = smoothstep(0.15, 0.75, vTextMask);
  FragColor = vec4(mix(baseColor, textColor, textAmount), 1.0);
}
