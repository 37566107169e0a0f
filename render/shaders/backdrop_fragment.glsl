#version 460 core

in float vHeightInfluence;

out vec4 FragColor;

void main() {
  float influence = clamp(vHeightInfluence * 0.5 + 0.5, 0.0, 1.0);
  float glow = 0.25 + influence * 0.5;
  FragColor = vec4(0.0, glow, glow * 0.85, 1.0);
}
