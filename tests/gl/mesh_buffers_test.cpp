#include "geometry/mesh_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "geometry/tile_grid.h"
#include "tests/gl/gl_test_context.h"

namespace {

GLint BufferSize(GLuint buffer) {
  GLint size = -1;
  glGetNamedBufferParameteriv(buffer, GL_BUFFER_SIZE, &size);
  return size;
}

GLint Attribute(GLuint vao, GLuint location, GLenum name) {
  GLint value = -1;
  glGetVertexArrayIndexediv(vao, location, name, &value);
  return value;
}

TEST(MeshBuffers, HoldTheThreeMeshesWithTheirLayoutsAndLeaveNothingBound) {
  BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  CreateGpuResources(testWindowWidth, testWindowHeight);
  EXPECT_EQ(BufferSize(tileVbo), 21504000);
  EXPECT_EQ(BufferSize(backdropVbo), 72);
  EXPECT_EQ(BufferSize(screenQuadVbo), 96);

  // Enabled float attributes, not normalised: vertex array, location, buffer, then components,
  // stride and offset.
  for (const auto& [vao, location, buffer, format] :
       {std::tuple{tileVao, 0, tileVbo, std::vector<GLint>{3, 28, 0}},
        {tileVao, 1, tileVbo, std::vector<GLint>{2, 28, 12}},
        {tileVao, 2, tileVbo, std::vector<GLint>{2, 28, 20}},
        {backdropVao, 0, backdropVbo, std::vector<GLint>{3, 12, 0}},
        {screenQuadVao, 0, screenQuadVbo, std::vector<GLint>{2, 16, 0}},
        {screenQuadVao, 1, screenQuadVbo, std::vector<GLint>{2, 16, 8}}}) {
    SCOPED_TRACE(::testing::Message() << "vertex array " << vao << ", location " << location);
    const auto get = [&](GLenum name) { return Attribute(vao, location, name); };
    GLint64 bindingOffset = -1;
    glGetVertexArrayIndexed64iv(vao, location, GL_VERTEX_BINDING_OFFSET, &bindingOffset);
    EXPECT_EQ((std::vector<GLint>{
                  get(GL_VERTEX_ATTRIB_ARRAY_SIZE), get(GL_VERTEX_ATTRIB_ARRAY_STRIDE),
                  get(GL_VERTEX_ATTRIB_RELATIVE_OFFSET) + static_cast<GLint>(bindingOffset)}),
              format);
    EXPECT_EQ(get(GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_TRUE);
    EXPECT_EQ(get(GL_VERTEX_ATTRIB_ARRAY_TYPE), GL_FLOAT);
    EXPECT_EQ(get(GL_VERTEX_ATTRIB_ARRAY_NORMALIZED), GL_FALSE);
    EXPECT_EQ(static_cast<GLuint>(get(GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING)), buffer);
  }
  EXPECT_EQ(Attribute(backdropVao, 1, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE);
  EXPECT_EQ(Attribute(screenQuadVao, 2, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE);

  GLint vertexArray = -1, arrayBuffer = -1;
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
  EXPECT_EQ(vertexArray, 0);
  EXPECT_EQ(arrayBuffer, 0);

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
