// Shared by the tile and light-mask vertex stages: the scrolling height band and the lift.
// The including file defines `feather`, the fade width at the band's edges.

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform float tileMovementStrength;
uniform float cornerMovementStrength;
uniform float heightMapHeight;  // set by the host; the lift does not use it
uniform sampler2D heightMap;
uniform float time;

const float textureHeight = 0.40;  // the band's share of the grid's height
const float centerY = 0.5;
const float scrollSpeed = 0.05;  // grid widths per second: one picture width every 20 s
const float pictureStart = 0.65;  // the picture's left edge at time 0

// Red channel of the base level, blurred with a five-tap cross.
float SampleTextureBlurred(vec2 uv) {
  vec2 texel = 1.0 / vec2(textureSize(heightMap, 0));
  float sum = 0.40 * textureLod(heightMap, uv, 0.0).r;
  sum += 0.15 * textureLod(heightMap, uv + vec2(texel.x, 0.0), 0.0).r;
  sum += 0.15 * textureLod(heightMap, uv - vec2(texel.x, 0.0), 0.0).r;
  sum += 0.15 * textureLod(heightMap, uv + vec2(0.0, texel.y), 0.0).r;
  sum += 0.15 * textureLod(heightMap, uv - vec2(0.0, texel.y), 0.0).r;
  return sum;
}

// Fades the height toward the band's lower and upper edges over `feather`; a feather of 0
// leaves the whole band at full height (smoothstep is undefined for equal edges).
float EdgeFade(float localY) {
  if (feather <= 0.0) {
    return 1.0;
  }
  float bottomFade = smoothstep(0.0, feather, localY);
  float topFade = 1.0 - smoothstep(1.0 - feather, 1.0, localY);
  return bottomFade * topFade;
}

// Height of the picture under `uv`: dark is high, light is low, 0 outside the band.
float SampleHeightMap(vec2 uv) {
  float bottom = centerY - textureHeight * 0.5;
  float localY = (uv.y - bottom) / textureHeight;
  if (localY < 0.0 || localY > 1.0) {
    return 0.0;
  }
  vec2 samplePosition = vec2(uv.x - pictureStart + time * scrollSpeed, localY);
  float height = 1.0 - SampleTextureBlurred(samplePosition);
  return height * EdgeFade(localY);
}

// Clip position of a corner: the tile rises by its centroid height and each corner moves
// further by how much the picture under it differs from the centroid's.
vec4 LiftedPosition(vec3 position, float cornerHeight, float tileHeight) {
  float wholeMovement = tileHeight * tileMovementStrength;
  float cornerMovement = (cornerHeight - tileHeight) * cornerMovementStrength;
  vec3 lifted = position + vec3(0.0, 0.0, wholeMovement + cornerMovement);
  return projection * view * model * vec4(lifted, 1.0);
}
