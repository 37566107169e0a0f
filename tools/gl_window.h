// An OpenGL 4.6 core window of one's own, as the program makes it but without fullscreen or
// audio: what the GL tests and the tools render into.
#pragma once

#include <SDL3/SDL.h>

struct GlWindow {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
};

struct PixelSize {
  int width = 0;
  int height = 0;
};

// Brings up SDL video, a window of the given pixel size (hidden or shown) with a current 4.6
// core context, and the GL entry points, as the program does but without fullscreen or audio.
// A positive `depthBits` asks for that depth buffer size instead of SDL's default.
// Reports a failure with SDL's reason, releases what it created and returns false.
bool OpenGlWindow(PixelSize size, bool hidden, GlWindow& gl, int depthBits = 0);

// Releases the context, the window and SDL.
void CloseGlWindow(GlWindow& gl);

// Resizes the window and waits until its drawable is exactly `size`. Reports and returns false
// when the window system does not give it that size.
bool ResizeGlWindow(const GlWindow& gl, PixelSize size);
