#include "geometry/mesh_buffers.h"

#include <cstddef>
#include <initializer_list>

#include "geometry/tile_grid.h"
#include "render/light_shafts.h"

GLuint tileVao, tileVbo;
GLuint backdropVao, backdropVbo;
GLuint screenQuadVao, screenQuadVbo;

const float backdropVertices[6][3] = {
    {-8.0f, -4.5f, -0.05f}, {8.0f, -4.5f, -0.05f}, {8.0f, 4.5f, -0.05f},
    {-8.0f, -4.5f, -0.05f}, {8.0f, 4.5f, -0.05f},  {-8.0f, 4.5f, -0.05f},
};

const float screenQuadVertices[6][4] = {
    {-1.0f, -1.0f, 0.0f, 0.0f}, {1.0f, -1.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 1.0f, 1.0f},
    {-1.0f, -1.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f, 1.0f},  {-1.0f, 1.0f, 0.0f, 1.0f},
};

namespace {

struct Attribute {
  GLuint location;
  GLint components;
  std::size_t offset;
};

// One static vertex buffer with its vertex array; every attribute is float and enabled.
void CreateMesh(GLuint& vao, GLuint& vbo, const char* label, const void* data, GLsizeiptr bytes,
                GLsizei stride, std::initializer_list<Attribute> attributes) {
  glGenVertexArrays(1, &vao);
  glGenBuffers(1, &vbo);
  glBindVertexArray(vao);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, bytes, data, GL_STATIC_DRAW);
  for (const Attribute& attribute : attributes) {
    glVertexAttribPointer(attribute.location, attribute.components, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(attribute.offset));
    glEnableVertexAttribArray(attribute.location);
  }
  LABEL_GL_OBJECT(GL_VERTEX_ARRAY, vao, label);
  LABEL_GL_OBJECT(GL_BUFFER, vbo, label);
}

}  // namespace

void CreateGpuResources(int pixelWidth, int pixelHeight) {
  CreateMesh(tileVao, tileVbo, "tile mesh", tileVertices.data(),
             static_cast<GLsizeiptr>(tileVertices.size() * sizeof(TileVertex)), sizeof(TileVertex),
             {{0, 3, offsetof(TileVertex, position)},
              {1, 2, offsetof(TileVertex, cornerUv)},
              {2, 2, offsetof(TileVertex, tileUv)}});
  CreateMesh(backdropVao, backdropVbo, "backdrop quad", backdropVertices, sizeof(backdropVertices),
             sizeof(backdropVertices[0]), {{0, 3, 0}});
  CreateMesh(screenQuadVao, screenQuadVbo, "screen quad", screenQuadVertices,
             sizeof(screenQuadVertices), sizeof(screenQuadVertices[0]),
             {{0, 2, 0}, {1, 2, 2 * sizeof(float)}});
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindVertexArray(0);

  CreateLightMaskTarget(pixelWidth, pixelHeight);
}
