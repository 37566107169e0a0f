#include "tools/tool_support.h"

#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

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
