#include "loaders/music.h"

#include <cstdio>
#include <string>

#include "loaders/asset_path.h"

MIX_Audio* music = nullptr;

void LoadMusic(MIX_Mixer* mixer, const char* relativePath) {
  const std::string fullPath = AssetPath(relativePath);
  music = MIX_LoadAudio(mixer, fullPath.c_str(), false);
  if (!music) std::fprintf(stderr, "Failed to load music: %s\n", SDL_GetError());
}

void PlayMusic(MIX_Mixer* mixer) {
  if (!MIX_PlayAudio(mixer, music))
    std::fprintf(stderr, "Failed to play music: %s\n", SDL_GetError());
}

void ReleaseMusic() {
  MIX_DestroyAudio(music);
  music = nullptr;
}
