// What the capture and benchmark tools share besides their window: reading a rendered frame
// back, comparing frames, and parsing sizes on the command line.
#pragma once

#include <string>
#include <vector>

#include "tools/gl_window.h"
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
