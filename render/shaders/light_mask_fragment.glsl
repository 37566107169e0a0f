#version 460 core

in float vTextMask;

out vec4 FragColor;

void main() {
  float textMask = clamp(vTextMask, 0.0, 1.0);
  float strength = mix(0.25, 1.0, textMask);
  FragColor = vec4(strength, strength, strength, 1.0);
}
