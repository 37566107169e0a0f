#include "geometry/mesh_buffers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "geometry/tile_grid.h"
#include "tests/gl/gl_test_context.h"

namespace {

GLint BufferSize(GLuint buffer) {
  GLint size = -1;
  glGetNamedBufferParameteriv(buffer, GL_BUFFER_SIZE, &size);
  return size;
}

struct Layout {
  GLuint location;
  GLint components;
  GLint stride;
  GLint offset;
  GLuint buffer;
};

void ExpectAttribute(GLuint vao, const Layout& expected) {
  SCOPED_TRACE(::testing::Message() << "location " << expected.location);
  GLint value = 0;
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
  EXPECT_EQ(value, GL_TRUE);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_SIZE, &value);
  EXPECT_EQ(value, expected.components);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_TYPE, &value);
  EXPECT_EQ(value, GL_FLOAT);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &value);
  EXPECT_EQ(value, GL_FALSE);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &value);
  EXPECT_EQ(value, expected.stride);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_RELATIVE_OFFSET, &value);
  GLint64 bindingOffset = 0;
  glGetVertexArrayIndexed64iv(vao, expected.location, GL_VERTEX_BINDING_OFFSET, &bindingOffset);
  EXPECT_EQ(value + bindingOffset, expected.offset);
  glGetVertexArrayIndexediv(vao, expected.location, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &value);
  EXPECT_EQ(static_cast<GLuint>(value), expected.buffer);
}

void ExpectDisabled(GLuint vao, GLuint location) {
  GLint enabled = GL_TRUE;
  glGetVertexArrayIndexediv(vao, location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
  EXPECT_EQ(enabled, GL_FALSE) << "location " << location;
}

TEST(MeshBuffers, HoldTheThreeMeshesWithTheirLayoutsAndLeaveNothingBound) {
  BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  CreateGpuResources(testWindowWidth, testWindowHeight);

  EXPECT_EQ(BufferSize(tileVbo), 21504000);
  EXPECT_EQ(BufferSize(backdropVbo), 72);
  EXPECT_EQ(BufferSize(screenQuadVbo), 96);

  ExpectAttribute(tileVao, {0, 3, 28, 0, tileVbo});
  ExpectAttribute(tileVao, {1, 2, 28, 12, tileVbo});
  ExpectAttribute(tileVao, {2, 2, 28, 20, tileVbo});
  ExpectAttribute(backdropVao, {0, 3, 12, 0, backdropVbo});
  ExpectDisabled(backdropVao, 1);
  ExpectAttribute(screenQuadVao, {0, 2, 16, 0, screenQuadVbo});
  ExpectAttribute(screenQuadVao, {1, 2, 16, 8, screenQuadVbo});
  ExpectDisabled(screenQuadVao, 2);

  GLint bound = -1;
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &bound);
  EXPECT_EQ(bound, 0);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
  EXPECT_EQ(bound, 0);

  // The tile buffer holds tileVertices byte for byte.
  std::vector<TileVertex> uploaded(tileVertices.size());
  glGetNamedBufferSubData(tileVbo, 0, BufferSize(tileVbo), uploaded.data());
  EXPECT_EQ(std::memcmp(uploaded.data(), tileVertices.data(), 21504000), 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(MeshBuffers, AnEmptyGridGivesAnEmptyTileBufferThatDrawsNothing) {
  BuildTriangleGrid(0, 0, gridWidth, gridHeight, tileGap);
  CreateGpuResources(testWindowWidth, testWindowHeight);
  EXPECT_EQ(BufferSize(tileVbo), 0);

  glBindVertexArray(tileVao);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(tileVertices.size()));
  glBindVertexArray(0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
