// A private working folder for a fuzz target, made its working directory once at initialisation:
// each input is written to the path below "assets" that the program's loader reads. libFuzzer's
// paths (corpus, artifacts, dictionary) must therefore be absolute. The folder is made on tmpfs
// (/dev/shm) where there is one, so that an input costs no disk, and is removed at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string fuzzFolder = "/dev/shm/velmora-fuzz-XXXXXX", fuzzInput;

// Aborts when the folder cannot be made, since no input could reach the loader then.
inline void MakeFuzzWorkdir(const char* assetFile) {
  if (!std::filesystem::is_directory("/dev/shm")) fuzzFolder = "/tmp/velmora-fuzz-XXXXXX";
  fuzzInput = assetFile;
  std::error_code error;
  if (!mkdtemp(fuzzFolder.data()) || chdir(fuzzFolder.c_str()) != 0 ||
      !std::filesystem::create_directories(std::filesystem::path(fuzzInput).parent_path(), error)) {
    std::perror("velmora fuzz: working folder");
    std::abort();
  }
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(fuzzFolder, ignored);
  });
}

inline void WriteFuzzInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(fuzzInput.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::perror("velmora fuzz: writing the input");
    std::abort();
  }
}
