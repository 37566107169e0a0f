// libFuzzer target of the music path: each input is the file the program loads as its music,
// opened by the program's own LoadMusic with a mixer on SDL's dummy audio driver (made once per
// process, as the program makes its own), then played to its end, or for at most four seconds, on a
// track of a mixer that renders to memory, so that the whole file goes through its decoder.
#include <SDL3/SDL.h>
#include <SDL3_mixer/SDL_mixer.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "loaders/music.h"
#include "tests/fuzz/fuzz_workdir.h"

namespace {

constexpr SDL_AudioSpec renderSpec = {SDL_AUDIO_F32, 2, 48000};
constexpr int renderBlockFrames = 4096;
constexpr int renderLimitBlocks = 4 * 48000 / renderBlockFrames;

MIX_Mixer* deviceMixer = nullptr;
MIX_Mixer* renderMixer = nullptr;
MIX_Track* track = nullptr;
float block[renderBlockFrames * 2];

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s%s\n", what, SDL_GetError());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzWorkdir("assets/audio/music");
  setenv("SDL_AUDIO_DRIVER", "dummy", 1);
  if (!SDL_Init(SDL_INIT_AUDIO)) Fail("SDL_Init failed: ");
  if (!MIX_Init()) Fail("MIX_Init failed: ");
  deviceMixer = MIX_CreateMixerDevice(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, nullptr);
  if (!deviceMixer) Fail("Failed to create mixer: ");
  renderMixer = MIX_CreateMixer(&renderSpec);
  if (!renderMixer) Fail("Failed to create the rendering mixer: ");
  track = MIX_CreateTrack(renderMixer);
  if (!track) Fail("MIX_CreateTrack failed: ");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFuzzInput(data, size);
  LoadMusic(deviceMixer, "/audio/music");
  if (!music) return 0;
  if (MIX_SetTrackAudio(track, music) && MIX_PlayTrack(track, 0)) {
    for (int i = 0; i < renderLimitBlocks && MIX_TrackPlaying(track); ++i) {
      if (MIX_Generate(renderMixer, block, sizeof block) < 0) Fail("MIX_Generate failed: ");
    }
    MIX_StopTrack(track, 0);
  }
  MIX_SetTrackAudio(track, nullptr);
  ReleaseMusic();
  return 0;
}
