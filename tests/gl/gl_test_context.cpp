#include "tests/gl/gl_test_context.h"

#include <gtest/gtest.h>

#include "tools/tool_support.h"

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
