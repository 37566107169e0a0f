// One OpenGL 4.6 core context on a small visible window, shared by every GL test of a process
// (see main in gl_test_context.cpp). Run under a virtual X display (scripts/with-xvfb.sh).
#pragma once

#include <glad/gl.h>

inline constexpr int testWindowWidth = 480, testWindowHeight = 270;
