#include "geometry/mesh_buffers.h"

#include <gtest/gtest.h>

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

// The tile buffer holds 28 bytes a vertex (an empty grid gives an empty one), the backdrop 72 and
// the screen quad 96; nothing stays bound. Every attribute is float, not normalised, enabled and
// read from its own mesh's buffer at its stride and offset.
TEST(MeshBuffers, HoldTheThreeMeshesWithTheirLayoutsAndLeaveNothingBound) {
  for (const auto [columns, tileBytes] : {std::pair{0, 0}, {gridColumns, 21504000}}) {
    BuildTriangleGrid(columns, gridRows, gridWidth, gridHeight, tileGap);
    CreateGpuResources(testWindowWidth, testWindowHeight);
    EXPECT_EQ(
        (std::vector{GetInteger(GL_VERTEX_ARRAY_BINDING), GetInteger(GL_ARRAY_BUFFER_BINDING),
                     BufferSize(tileVbo), BufferSize(backdropVbo), BufferSize(screenQuadVbo)}),
        (std::vector{0, 0, tileBytes, 72, 96}));
  }
  // Vertex array, location, buffer, components, stride, offset.
  for (const auto [vao, location, buffer, components, stride, offset] :
       {std::tuple{tileVao, 0u, tileVbo, 3, 28, 0},
        {tileVao, 1u, tileVbo, 2, 28, 12},
        {tileVao, 2u, tileVbo, 2, 28, 20},
        {backdropVao, 0u, backdropVbo, 3, 12, 0},
        {screenQuadVao, 0u, screenQuadVbo, 2, 16, 0},
        {screenQuadVao, 1u, screenQuadVbo, 2, 16, 8}}) {
    std::vector<GLint> actual;
    for (const GLenum name : {GL_VERTEX_ATTRIB_ARRAY_SIZE, GL_VERTEX_ATTRIB_ARRAY_STRIDE,
                              GL_VERTEX_ATTRIB_RELATIVE_OFFSET, GL_VERTEX_ATTRIB_ARRAY_ENABLED,
                              GL_VERTEX_ATTRIB_ARRAY_TYPE, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED,
                              GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING}) {
      glGetVertexArrayIndexediv(vao, location, name, &actual.emplace_back(-1));
    }
    GLint64 bindingOffset = 0;  // glVertexAttribPointer may keep the offset in the binding
    glGetVertexArrayIndexed64iv(vao, location, GL_VERTEX_BINDING_OFFSET, &bindingOffset);
    actual[2] += static_cast<GLint>(bindingOffset);
    EXPECT_EQ(actual, (std::vector<GLint>{components, stride, offset, GL_TRUE, GL_FLOAT, GL_FALSE,
                                          static_cast<GLint>(buffer)}))
        << "vertex array " << vao << ", location " << location;
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
