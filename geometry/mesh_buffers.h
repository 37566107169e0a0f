// The three static meshes of the scene, each one vertex buffer and one vertex array.
#pragma once

#include "render/gl_api.h"

extern GLuint tileVao, tileVbo;
extern GLuint backdropVao, backdropVbo;
extern GLuint screenQuadVao, screenQuadVbo;

// Six (x, y, z): the 16 x 9 rectangle 0.05 units behind the tile plane.
extern const float backdropVertices[6][3];
// Six (x, y, u, v): two triangles covering clip space, with texture coordinates.
extern const float screenQuadVertices[6][4];

// Uploads tileVertices and the two constant tables, then creates the light-mask target of the
// given pixel size. Needs a current GL context; called once at start-up.
void CreateGpuResources(int pixelWidth, int pixelHeight);
