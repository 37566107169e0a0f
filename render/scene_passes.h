// The visible scene: the backdrop quad, then the tile surface lifted by the scrolling height map.
#pragma once

#include "render/camera.h"
#include "render/gl_api.h"
#include "render/scene_programs.h"

// The height-map picture, or 0 when it failed to load (every lookup then reads black).
extern GLuint heightMapTexture;

void DrawBackdropPass(const CameraMatrices& camera);
void DrawTilePass(const CameraMatrices& camera, float time);

// Draws the whole tile mesh with `program` (the tile or the light-mask program): binds the
// height map to unit 0 and sets the camera, the movement strengths, heightMapHeight and time.
void DrawLiftedTiles(GLuint program, const UniformSet& uniforms, const CameraMatrices& camera,
                     float time, float heightMapHeight);
