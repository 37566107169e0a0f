#include "geometry/mesh_buffers.h"

#include <gtest/gtest.h>

#include <vector>

#include "geometry/tile_grid.h"
#include "tests/gl/gl_test_context.h"

// The tile buffer holds 28 bytes a vertex (an empty grid gives an empty one), the backdrop 72 and
// the screen quad 96, and nothing stays bound. The attribute layouts are what the scene test
// draws: each tile's lift follows its corner and centroid coordinates, the backdrop its
// corners, the shafts the screen quad's texture coordinates.
TEST(MeshBuffers, HoldTheThreeMeshesAndLeaveNothingBound) {
  for (const auto [columns, tileBytes] : {std::pair{0, 0}, {gridColumns, 21504000}}) {
    BuildTriangleGrid(columns, gridRows, gridWidth, gridHeight, tileGap);
    CreateGpuResources(testWindowWidth, testWindowHeight);
    std::vector<GLint> state(2, -1);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &state[0]);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &state[1]);
    for (const GLuint buffer : {tileVbo, backdropVbo, screenQuadVbo}) {
      glGetNamedBufferParameteriv(buffer, GL_BUFFER_SIZE, &state.emplace_back(-1));
    }
    EXPECT_EQ(state, (std::vector{0, 0, tileBytes, 72, 96}));
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
