// velmora-capture draws with the program's own scene set-up and frame code: what it writes must
// be the frame that RenderFrame draws here, on the GL test path, at the same size and time.
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/scene.h"
#include "render/frame.h"
#include "tests/gl/gl_test_context.h"
#include "tools/tool_support.h"

namespace {

namespace fs = std::filesystem;

// RGB bytes, top row first, as a PNG holds them.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

const fs::path outputDir = CAPTURE_OUTPUT_DIR;

bool RunCapture(const std::string& arguments) {
  const std::string command = std::string(VELMORA_CAPTURE) + " --size " +
                              std::to_string(testWindowWidth) + "x" +
                              std::to_string(testWindowHeight) + " " + arguments;
  return std::system(command.c_str()) == 0;
}

Picture LoadPng(const fs::path& path) {
  Picture picture;
  int channels = 0;
  stbi_set_flip_vertically_on_load(false);  // the scene's texture loader turns it on
  unsigned char* data = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3);
  if (data) {
    picture.rgb.assign(data, data + static_cast<std::size_t>(picture.width) * picture.height * 3);
    stbi_image_free(data);
  }
  return picture;
}

// The frame at `time`, drawn into the test window and read back, top row first.
Picture RenderHere(float time) {
  RenderFrame(testWindowWidth, testWindowHeight, time);
  glFinish();
  const auto bottomUp = ReadPixels(0, 0, testWindowWidth, testWindowHeight);
  Picture picture{testWindowWidth, testWindowHeight, {}};
  for (int row = testWindowHeight - 1; row >= 0; --row) {
    for (int column = 0; column < testWindowWidth; ++column) {
      const auto& pixel = bottomUp[static_cast<std::size_t>(row) * testWindowWidth + column];
      picture.rgb.insert(picture.rgb.end(), pixel.begin(), pixel.begin() + 3);
    }
  }
  return picture;
}

Picture FlippedVertically(const Picture& picture) {
  Picture flipped = picture;
  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
  for (int row = 0; row < picture.height; ++row) {
    std::memcpy(&flipped.rgb[row * rowBytes], &picture.rgb[(picture.height - 1 - row) * rowBytes],
                rowBytes);
  }
  return flipped;
}

class Capture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateScene(testWindowWidth, testWindowHeight);
    PrepareFirstFrame();
  }
  static void TearDownTestSuite() { DeleteScene(); }
};

TEST_F(Capture, AStillMatchesTheFrameRenderedByTheProgramsFrameCode) {
  const fs::path path = outputDir / "capture-t0.png";
  fs::remove(path);
  ASSERT_TRUE(RunCapture("--frame 0 " + path.string()));
  const Picture captured = LoadPng(path);
  ASSERT_EQ(captured.width, testWindowWidth);
  ASSERT_EQ(captured.height, testWindowHeight);

  const Picture here = RenderHere(0.0f);
  EXPECT_LE(DifferentShare(captured.rgb, here.rgb), 0.001);

  // The comparison tells frames apart: upside down, or a later time, is far off.
  EXPECT_GT(DifferentShare(captured.rgb, FlippedVertically(here).rgb), 0.2);
  EXPECT_GT(DifferentShare(captured.rgb, RenderHere(3.0f).rgb), 0.2);
}

TEST_F(Capture, AClipHoldsConsecutiveFramesAtTheChosenRate) {
  const fs::path frames = outputDir / "clip-frames";
  const fs::path clip = outputDir / "clip.gif";
  fs::remove_all(frames);
  fs::remove(clip);
  ASSERT_TRUE(RunCapture("--clip " + clip.string() + " --start 1 --seconds 0.3 --fps 10" +
                         " --frames-dir " + frames.string()));

  // Frames 0, 1 and 2 are the times 1.0, 1.1 and 1.2 s.
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(::testing::Message() << "frame " << i);
    const fs::path frame = frames / ("frame-0000" + std::to_string(i) + ".png");
    ASSERT_TRUE(fs::exists(frame));
    EXPECT_LE(DifferentShare(LoadPng(frame).rgb, RenderHere(1.0f + static_cast<float>(i) / 10).rgb),
              0.001);
  }
  EXPECT_FALSE(fs::exists(frames / "frame-00003.png"));

  std::ifstream file(clip, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(bytes.empty());
  int* delays = nullptr;
  int width = 0, height = 0, layers = 0, channels = 0;
  unsigned char* gif = stbi_load_gif_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                 &delays, &width, &height, &layers, &channels, 3);
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(width, testWindowWidth);
  EXPECT_EQ(height, testWindowHeight);
  EXPECT_EQ(layers, 3);
  EXPECT_EQ(delays[0], 100);  // milliseconds at 10 frames per second
  stbi_image_free(gif);
  stbi_image_free(delays);
}

}  // namespace
