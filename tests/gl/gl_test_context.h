// One OpenGL 4.6 core context on a small visible window, shared by every GL test of a process
// (see main in gl_test_context.cpp). Run under a virtual X display (scripts/with-xvfb.sh).
#pragma once

#include <glad/gl.h>

#include <array>
#include <vector>

inline constexpr int testWindowWidth = 480;
inline constexpr int testWindowHeight = 270;

// A width x height block of the bound read framebuffer, RGBA bytes, bottom row first.
std::vector<std::array<unsigned char, 4>> ReadPixels(int x, int y, int width, int height);
