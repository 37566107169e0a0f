// Light shafts: the tiles drawn off-screen as a grey mask, then a radial march from every pixel
// toward the middle of the screen through that mask, added to the window with a 4 x 4 ordered
// dither.
#pragma once

#include "render/camera.h"
#include "render/gl_api.h"

extern GLuint lightMaskTexture, lightMaskFramebuffer;

// Creates the mask texture and its framebuffer at the given pixel size. Reports an incomplete
// framebuffer and goes on.
void CreateLightMaskTarget(int pixelWidth, int pixelHeight);

// Keeps the mask at the window's pixel size, which can change during a run (a compositor that
// sizes the window after its first frame, a new display mode, another monitor): when the size
// differs, the same texture gets new storage of that size and the framebuffer is checked again,
// as at start-up. A size of 0 in either direction (a minimised window) keeps the mask as it is.
void FitLightMaskTarget(int pixelWidth, int pixelHeight);

// Draws the tile mesh into the mask: dim for every tile, bright where the text lifts it.
void DrawLightMaskPass(const CameraMatrices& camera, float time);

// Adds the dithered shafts over the window; leaves depth testing on and blending off.
void DrawLightShaftComposite();
