// What the capture and benchmark tools share: an OpenGL 4.6 core window of their own, reading a
// rendered frame back, and parsing sizes on the command line.
#pragma once

#include <SDL3/SDL.h>

#include <string>
#include <vector>

struct ToolWindow {
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
bool OpenToolWindow(PixelSize size, bool hidden, ToolWindow& tool, int depthBits = 0);

// Releases the context, the window and SDL.
void CloseToolWindow(ToolWindow& tool);

// Resizes the window and waits until its drawable is exactly `size`. Reports and returns false
// when the window system does not give it that size.
bool ResizeToolWindow(const ToolWindow& tool, PixelSize size);

// The frame in the back buffer of the window, RGB bytes, top row first (GL reads bottom-up).
std::vector<unsigned char> ReadFrameRgb(PixelSize size);

// The share of pixels, 0..1, of two RGB pictures of the same size in which some channel differs
// by more than `channelTolerance`: how frames are compared.
double DifferentShare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                      int channelTolerance = 2);

// "WIDTHxHEIGHT" with both numbers positive.
bool ParseSize(const std::string& text, PixelSize& size);

// A comma-separated list of sizes, at least one.
bool ParseSizeList(const std::string& text, std::vector<PixelSize>& sizes);

// The renderer's name, from GL_RENDERER.
std::string GlRenderer();
