// One whole frame of the scene, callable with any pixel size and time, so that the main loop,
// the tests and the tools draw exactly the same picture.
#pragma once

// Sets the viewport to width x height, clears the window to teal, fits the light mask to that
// size, then draws the light mask, the backdrop, the tiles and the light-shaft composite for `time`
// seconds. Does not present.
void RenderFrame(int pixelWidth, int pixelHeight, float time);
