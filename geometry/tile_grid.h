// The triangle tile surface: equilateral triangles pointing alternately up and down, each shrunk
// toward its centroid so that thin gaps show between them.
#pragma once

#include <vector>

// One vertex of the tile mesh; also the GPU vertex format (stride 28, offsets 0, 12, 20).
struct TileVertex {
  float position[3];  // the shrunk corner in model space; z is always 0
  float cornerUv[2];  // the unshrunk lattice corner, normalised over the grid's extent
  float tileUv[2];    // the tile's centroid, normalised the same way
};
static_assert(sizeof(TileVertex) == 28, "TileVertex must stay tightly packed");

inline constexpr int gridColumns = 1000;
inline constexpr int gridRows = 256;
inline constexpr float gridWidth = 16.0f;
inline constexpr float gridHeight = 9.0f;
inline constexpr float tileGap = 0.08f;

// Filled once at start-up, uploaded once, unchanged afterwards; its length is the tile draw count.
extern std::vector<TileVertex> tileVertices;

// Replaces the contents of tileVertices with `rows` rows of `columns` alternating triangles that
// fit inside width x height, centred on the origin, each shrunk by the fraction `gap`.
void BuildTriangleGrid(int columns, int rows, float width, float height, float gap);
