// A private working folder for a fuzz target: each input is written to the path below "assets"
// that the program's loader reads, and the loader runs with this folder as its working directory.
// The folder is made on tmpfs (/dev/shm) where there is one, so that writing an input costs no
// disk, and removed at exit.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

struct FuzzWorkdir {
  std::filesystem::path root;   // the private folder
  std::filesystem::path input;  // where each input is written
  int home = -1;                // the working directory to return to
};

inline FuzzWorkdir fuzzWorkdir;

// Makes the folder and the asset file's parent ("assets/textures/..."); aborts when it cannot,
// since no input could reach the loader then.
inline void MakeFuzzWorkdir(const char* assetFile) {
  std::error_code error;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
  std::string folder = (base / "velmora-fuzz-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::perror("velmora fuzz: mkdtemp");
    std::abort();
  }
  fuzzWorkdir.root = folder;
  fuzzWorkdir.input = fuzzWorkdir.root / assetFile;
  std::filesystem::create_directories(fuzzWorkdir.input.parent_path());
  fuzzWorkdir.home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fuzzWorkdir.home < 0) {
    std::perror("velmora fuzz: working directory");
    std::abort();
  }
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(fuzzWorkdir.root, ignored);
  });
}

// Writes the input where the loader reads it and makes the private folder the working directory.
// libFuzzer reads its corpus and writes its findings relative to the directory it started in, so
// LeaveFuzzWorkdir goes back there before the target returns.
inline void EnterFuzzWorkdir(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(fuzzWorkdir.input.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::perror("velmora fuzz: writing the input");
    std::abort();
  }
  if (chdir(fuzzWorkdir.root.c_str()) != 0) std::abort();
}

inline void LeaveFuzzWorkdir() {
  if (fchdir(fuzzWorkdir.home) != 0) std::abort();
}
