#include "tests/gl/gl_test_context.h"

#include <gtest/gtest.h>

#include "tools/gl_window.h"

// Creates the window and its context (with a 24-bit depth buffer, read back by the scene tests),
// then runs every test on it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  GlWindow gl;
  if (!OpenGlWindow({testWindowWidth, testWindowHeight}, false, gl, 24)) return 1;
  const int result = RUN_ALL_TESTS();
  CloseGlWindow(gl);
  return result;
}
