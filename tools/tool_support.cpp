#include "tools/tool_support.h"

#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

bool Report(const char* message) {
  std::fprintf(stderr, "%s%s\n", message, SDL_GetError());
  return false;
}

}  // namespace

bool OpenToolWindow(PixelSize size, bool hidden, ToolWindow& tool, int depthBits) {
  if (!SDL_Init(SDL_INIT_VIDEO)) return Report("SDL_Init failed: ");
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 6);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  if (depthBits > 0) SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);

  const SDL_WindowFlags flags = SDL_WINDOW_OPENGL | (hidden ? SDL_WINDOW_HIDDEN : 0);
  tool.window = SDL_CreateWindow("Velmora tool", size.width, size.height, flags);
  if (!tool.window) {
    Report("SDL_CreateWindow failed: ");
    CloseToolWindow(tool);
    return false;
  }
  tool.context = SDL_GL_CreateContext(tool.window);
  if (!tool.context || !SDL_GL_MakeCurrent(tool.window, tool.context)) {
    Report("Creating the OpenGL 4.6 core context failed: ");
    CloseToolWindow(tool);
    return false;
  }
  if (gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) == 0) {
    std::fputs("Failed to initialize GLAD\n", stderr);
    CloseToolWindow(tool);
    return false;
  }
  if (!ResizeToolWindow(tool, size)) {
    CloseToolWindow(tool);
    return false;
  }
  return true;
}

void CloseToolWindow(ToolWindow& tool) {
  if (tool.context) SDL_GL_DestroyContext(tool.context);
  tool.context = nullptr;
  if (tool.window) SDL_DestroyWindow(tool.window);
  tool.window = nullptr;
  SDL_Quit();
}

bool ResizeToolWindow(const ToolWindow& tool, PixelSize size) {
  if (!SDL_SetWindowSize(tool.window, size.width, size.height))
    return Report("SDL_SetWindowSize failed: ");
  if (!SDL_SyncWindow(tool.window)) return Report("SDL_SyncWindow timed out: ");
  PixelSize actual;
  if (!SDL_GetWindowSizeInPixels(tool.window, &actual.width, &actual.height))
    return Report("SDL_GetWindowSizeInPixels failed: ");
  if (actual.width != size.width || actual.height != size.height) {
    std::fprintf(stderr,
                 "The window is %dx%d pixels instead of %dx%d (is the screen large enough?)\n",
                 actual.width, actual.height, size.width, size.height);
    return false;
  }
  return true;
}

std::vector<unsigned char> ReadFrameRgb(PixelSize size) {
  const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 3;
  std::vector<unsigned char> bottomUp(rowBytes * size.height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, size.width, size.height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());

  std::vector<unsigned char> topDown(bottomUp.size());
  for (int row = 0; row < size.height; ++row) {
    std::memcpy(&topDown[row * rowBytes], &bottomUp[(size.height - 1 - row) * rowBytes], rowBytes);
  }
  return topDown;
}

double DifferentShare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                      int channelTolerance) {
  std::size_t different = 0;
  for (std::size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
    for (std::size_t c = i; c < i + 3; ++c) {
      if (std::abs(a[c] - b[c]) > channelTolerance) {
        ++different;
        break;
      }
    }
  }
  return a.size() == b.size() && !a.empty() ? static_cast<double>(different) / (a.size() / 3) : 1.0;
}

bool ParseSize(const std::string& text, PixelSize& size) {
  char separator = 0;
  std::istringstream in(text);
  if (!(in >> size.width >> separator >> size.height) || separator != 'x') return false;
  return in.peek() == EOF && size.width > 0 && size.height > 0;
}

bool ParseSizeList(const std::string& text, std::vector<PixelSize>& sizes) {
  sizes.clear();
  if (text.empty() || text.back() == ',') return false;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    PixelSize size;
    if (!ParseSize(item, size)) return false;
    sizes.push_back(size);
  }
  return !sizes.empty();
}

std::string GlRenderer() {
  const GLubyte* text = glGetString(GL_RENDERER);
  return text ? reinterpret_cast<const char*>(text) : "unknown";
}
