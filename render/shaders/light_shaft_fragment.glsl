#version 460 core

in vec2 vUv;

uniform sampler2D lightMask;
uniform vec2 lightPosition;

out vec4 FragColor;

const float density = 0.5;
const float decay = 0.97;
const float weight = 0.02;
const float exposure = 0.8;
const int NUM_SAMPLES = 64;

// 4 x 4 ordered-dither thresholds (x 16), row by window y, column by window x.
const int Bayer4x4[16] = int[16](0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5);

void main() {
  // March halfway from this pixel toward the light, summing decaying samples of the mask.
  vec2 deltaUv = (vUv - lightPosition) * (density / float(NUM_SAMPLES));
  vec2 currentUv = vUv;
  vec3 accumulatedLight = vec3(0.0, 0.0, 0.3);
  float illuminationDecay = 1.0;
  for (int i = 0; i < NUM_SAMPLES; ++i) {
    currentUv -= deltaUv;
    accumulatedLight += texture(lightMask, currentUv).rgb * illuminationDecay * weight;
    illuminationDecay *= decay;
  }
  vec3 rayColor = accumulatedLight * exposure;

  float brightness = max(rayColor.r, max(rayColor.g, rayColor.b));
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  float threshold = float(Bayer4x4[(pixel.x & 3) + ((pixel.y & 3) << 2)]) / 16.0;
  float dither = brightness > threshold ? 1.0 : 0.0;
  FragColor = vec4(rayColor * dither, 1.0);
}
