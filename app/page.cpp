// The program in a web page (the Emscripten build): the page's canvas is the window, the browser
// runs the frames at its display's refresh, the audio starts once a user's gesture lets the page
// play sound, and a WebGL context that the browser takes away is asked back and filled again.
#include "app/page.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "app/main_loop.h"
#include "app/platform.h"
#include "app/scene.h"
#include "loaders/music.h"
#include "render/frame.h"

namespace {

// The canvas SDL draws into: its default selector, the page's canvas.
constexpr char canvasSelector[] = "#canvas";
// The most device pixels drawn per CSS pixel: phones have 2 to 3.5, and at 3 the light shafts
// alone ask a mid-range phone's GPU for more texture samples a second than it has (the figures
// are in docs/PERFORMANCE.md). Screens up to 2 are drawn at their full density.
constexpr double maxPixelRatio = 2.0;
// A display refresh that comes this much before the next frame is due still draws it: the
// browser's frame times vary by a millisecond or two around the refresh.
constexpr double refreshJitterMs = 3.0;

SDL_Window* pageWindow = nullptr;
double nextFrameMs = 0.0;  // when the next frame is due, in the browser's frame time
bool contextLost = false;
SDL_AudioDeviceID heldAudio = 0;  // the mixer's device, paused until the page may play sound

// True once the page's audio context runs (the page resumes it at a user's gesture:
// web/index.html) and SDL's audio node is fed by it. Until the node first runs, SDL feeds it
// from a timer of its own instead, whose sound is thrown away: the music would be played unheard
// for as long as the browser takes to start the audio (most of a second, seen in Chromium).
bool AudioHeard() {
  return EM_ASM_INT({
           const sdl = Module['SDL3'] || {};
           const playback = sdl.audio_playback;
           return sdl.audioContext && sdl.audioContext.state == 'running' && playback &&
                          !playback.silenceTimer
                      ? 1
                      : 0;
         }) != 0;
}

// Starts the held music once the page may play sound, from its beginning.
void StartAudioOnceHeard() {
  if (!heldAudio || !AudioHeard()) return;
  if (!SDL_ResumeAudioDevice(heldAudio))
    std::fprintf(stderr, "Failed to start the audio: %s\n", SDL_GetError());
  heldAudio = 0;
}

void StopPage() {
  emscripten_set_webglcontextlost_callback(canvasSelector, nullptr, false, nullptr);
  emscripten_set_webglcontextrestored_callback(canvasSelector, nullptr, false, nullptr);
  DeleteScene();
  ReleaseMusic();
  StopPlatform();
}

// One refresh of the display. At most 60 frames a second: a refresh before the next frame is due
// draws nothing. A frame drawn more than a budget late (the first, or after a GPU slower than the
// refresh) starts the schedule again from then: such a GPU draws at its own pace, a frame a
// refresh, and nothing waits behind it.
EM_BOOL PageFrame(double now, void*) {
  constexpr double budgetMs = frameBudgetSeconds * 1000.0;
  if (now < nextFrameMs - refreshJitterMs) return EM_TRUE;
  nextFrameMs = now - nextFrameMs > budgetMs ? now + budgetMs : nextFrameMs + budgetMs;
  if (!DrainEvents()) {
    StopPage();
    return EM_FALSE;
  }
  StartAudioOnceHeard();
  FollowPage(pageWindow);
  if (contextLost) return EM_TRUE;
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(pageWindow, &width, &height);
  RenderFrame(width, height, static_cast<float>(SDL_GetTicks()) / 1000.0f);
  SDL_GL_SwapWindow(pageWindow);
  return EM_TRUE;
}

// The browser has taken the WebGL context away (the page in the background, memory pressure):
// nothing is drawn until it gives it back, which it does only if the loss's default is prevented.
EM_BOOL OnContextLost(int, const void*, void*) {
  contextLost = true;
  return EM_TRUE;
}

// The context is back without any of its objects: the scene's are made again, at the current size
// and from the tile list and files kept. The music plays on through it.
EM_BOOL OnContextRestored(int, const void*, void*) {
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(pageWindow, &width, &height);
  CreateSceneObjects(width, height);
  PrepareFirstFrame();
  contextLost = false;
  return EM_TRUE;
}

}  // namespace

void FollowPage(SDL_Window* window) {
  double cssWidth = 0.0, cssHeight = 0.0;
  emscripten_get_element_css_size(canvasSelector, &cssWidth, &cssHeight);
  const double ratio = std::min(emscripten_get_device_pixel_ratio(), maxPixelRatio);
  const int width = static_cast<int>(std::lround(std::lround(cssWidth) * ratio));
  const int height = static_cast<int>(std::lround(std::lround(cssHeight) * ratio));
  if (width <= 0 || height <= 0) return;  // a hidden canvas: keep what there is

  // The window's size is its drawing size (SDL is told of no pixel density). The canvas's is
  // compared too: the page may have given the canvas another size itself.
  int windowWidth = 0, windowHeight = 0, drawingWidth = 0, drawingHeight = 0;
  SDL_GetWindowSize(window, &windowWidth, &windowHeight);
  emscripten_get_canvas_element_size(canvasSelector, &drawingWidth, &drawingHeight);
  if (windowWidth == width && windowHeight == height && drawingWidth == width &&
      drawingHeight == height)
    return;
  if (!SDL_SetWindowSize(window, width, height))
    std::fprintf(stderr, "SDL_SetWindowSize failed: %s\n", SDL_GetError());
}

void HoldAudioUntilHeard(MIX_Mixer* mixer) {
  heldAudio = static_cast<SDL_AudioDeviceID>(
      SDL_GetNumberProperty(MIX_GetMixerProperties(mixer), MIX_PROP_MIXER_DEVICE_NUMBER, 0));
  if (!SDL_PauseAudioDevice(heldAudio)) {
    std::fprintf(stderr, "Failed to hold the audio until the first gesture: %s\n", SDL_GetError());
    heldAudio = 0;
  }
}

void RunPage(SDL_Window* window) {
  pageWindow = window;
  emscripten_set_webglcontextlost_callback(canvasSelector, nullptr, false, OnContextLost);
  emscripten_set_webglcontextrestored_callback(canvasSelector, nullptr, false, OnContextRestored);
  emscripten_request_animation_frame_loop(PageFrame, nullptr);
}
