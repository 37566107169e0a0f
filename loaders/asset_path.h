// Every asset lives below "assets" in the working directory: the full path is "assets"
// immediately followed by a relative path that begins with "/".
#pragma once

#include <string>

inline constexpr const char assetRoot[] = "assets";

inline std::string AssetPath(const char* relativePath) {
  return std::string(assetRoot) + relativePath;
}
