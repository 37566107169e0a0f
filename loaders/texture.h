// The height-map picture: any picture stb_image decodes, uploaded as a mip-mapped, repeating
// 2D texture.
#pragma once

#include "render/gl_api.h"

// Decodes "assets" + relativePath (bottom row first) and uploads it. Returns the new texture,
// left bound to GL_TEXTURE_2D, or 0 after writing "Failed to load texture: " and the relative
// path to standard error when the file cannot be read, decoded or held by a GL texture.
GLuint LoadTexture(const char* relativePath);
