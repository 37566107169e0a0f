#include "tests/gl/gl_test_context.h"

#include <gtest/gtest.h>

#include "tools/tool_support.h"

std::vector<std::array<unsigned char, 4>> ReadPixels(int x, int y, int width, int height) {
  std::vector<std::array<unsigned char, 4>> pixels(static_cast<std::size_t>(width) * height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

// Creates the window and its context (with a 24-bit depth buffer, read back by the scene tests),
// then runs every test on it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ToolWindow tool;
  if (!OpenToolWindow({testWindowWidth, testWindowHeight}, false, tool, 24)) return 1;
  const int result = RUN_ALL_TESTS();
  CloseToolWindow(tool);
  return result;
}
