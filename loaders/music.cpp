#include "loaders/music.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "loaders/asset_path.h"

MIX_Audio* music = nullptr;

#ifdef __EMSCRIPTEN__
namespace {

// Browsers keep a page's audio off until the user clicks or presses a key. Until then the
// mixer's device stays paused, so that the music starts from its beginning at that moment
// instead of playing on, unheard, from start-up.
bool SDLCALL StartAudioOnFirstGesture(void* device, SDL_Event* event) {
  if (event->type != SDL_EVENT_MOUSE_BUTTON_DOWN && event->type != SDL_EVENT_KEY_DOWN &&
      event->type != SDL_EVENT_FINGER_DOWN) {
    return true;
  }
  SDL_RemoveEventWatch(StartAudioOnFirstGesture, device);
  if (!SDL_ResumeAudioDevice(static_cast<SDL_AudioDeviceID>(reinterpret_cast<uintptr_t>(device))))
    std::fprintf(stderr, "Failed to start the audio: %s\n", SDL_GetError());
  return true;
}

void HoldAudioUntilFirstGesture(MIX_Mixer* mixer) {
  const auto device = static_cast<SDL_AudioDeviceID>(
      SDL_GetNumberProperty(MIX_GetMixerProperties(mixer), MIX_PROP_MIXER_DEVICE_NUMBER, 0));
  void* watchData = reinterpret_cast<void*>(static_cast<uintptr_t>(device));
  if (!SDL_PauseAudioDevice(device) || !SDL_AddEventWatch(StartAudioOnFirstGesture, watchData)) {
    std::fprintf(stderr, "Failed to hold the audio until the first click: %s\n", SDL_GetError());
  }
}

}  // namespace
#endif

void LoadMusic(MIX_Mixer* mixer, const char* relativePath) {
  const std::string fullPath = AssetPath(relativePath);
  music = MIX_LoadAudio(mixer, fullPath.c_str(), false);
  if (!music) std::fprintf(stderr, "Failed to load music: %s\n", SDL_GetError());
}

void PlayMusic(MIX_Mixer* mixer) {
#ifdef __EMSCRIPTEN__
  HoldAudioUntilFirstGesture(mixer);
#endif
  if (!MIX_PlayAudio(mixer, music))
    std::fprintf(stderr, "Failed to play music: %s\n", SDL_GetError());
}

void ReleaseMusic() {
  MIX_DestroyAudio(music);
  music = nullptr;
}
