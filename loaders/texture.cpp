#include "loaders/texture.h"

#include <stb/stb_image.h>

#include <cstdio>
#include <string>

#include "loaders/asset_path.h"

namespace {

// Grey, grey with alpha, RGB, RGBA. Grey with alpha uploads as two channels so that red carries
// the grey, as it does for a grey picture.
GLenum FormatForChannels(int channels) {
  switch (channels) {
    case 1:
      return GL_RED;
    case 2:
      return GL_RG;
    case 3:
      return GL_RGB;
    default:
      return GL_RGBA;
  }
}

bool FitsTextureLimits(int width, int height) {
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  return width <= maxSize && height <= maxSize;
}

void ReportFailure(const char* relativePath) {
  std::fprintf(stderr, "Failed to load texture: %s\n", relativePath);
}

}  // namespace

GLuint LoadTexture(const char* relativePath) {
  stbi_set_flip_vertically_on_load(true);
  const std::string fullPath = AssetPath(relativePath);

  // A picture larger than GL can hold would leave a texture without an image. Its declared size
  // is checked before decoding too: a few bytes can declare a picture of gigabytes.
  int width = 0, height = 0, channels = 0;
  if (stbi_info(fullPath.c_str(), &width, &height, &channels) &&
      !FitsTextureLimits(width, height)) {
    ReportFailure(relativePath);
    return 0;
  }
  stbi_uc* pixels = stbi_load(fullPath.c_str(), &width, &height, &channels, 0);
  if (!pixels || !FitsTextureLimits(width, height)) {
    stbi_image_free(pixels);
    ReportFailure(relativePath);
    return 0;
  }

  const GLenum format = FormatForChannels(channels);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);

  // Decoded rows are tightly packed, whatever their length in bytes.
  GLint previousAlignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, TextureInternalFormat(format), width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);

  glGenerateMipmap(GL_TEXTURE_2D);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  LABEL_GL_OBJECT(GL_TEXTURE, texture, relativePath);

  stbi_image_free(pixels);
  return texture;
}
