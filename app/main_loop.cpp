#include "app/main_loop.h"

#include <cstdio>

#include "app/platform.h"
#include "render/frame.h"

Uint64 FrameDelayNs(Uint64 elapsedNs) {
  const double remaining = frameBudgetSeconds - static_cast<double>(elapsedNs) / 1e9;
  return remaining > 0.0 ? static_cast<Uint64>(remaining * 1e9) : 0;
}

bool DrainEvents() {
  bool keepRunning = true;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_EVENT_QUIT) keepRunning = false;
    if (event.type == SDL_EVENT_KEY_DOWN && event.key.key == SDLK_ESCAPE) keepRunning = false;
  }
  return keepRunning;
}

namespace {

bool ReportLostDisplay() {
  std::fprintf(stderr, "Lost the display: %s\n", SDL_GetError());
  return false;
}

}  // namespace

bool RunMainLoop(SDL_Window* window, FrameHook afterFrame) {
  bool running = true;
  while (running) {
    const Uint64 frameStart = SDL_GetTicksNS();
    // Checked before SDL pumps events on a connection that is gone (see DisplayConnected).
    if (!DisplayConnected()) return ReportLostDisplay();
    running = DrainEvents();

    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window, &width, &height);
    const float time = static_cast<float>(SDL_GetTicks()) / 1000.0f;
    RenderFrame(width, height, time);
    // Fails once the display server is gone (under Wayland: the compositor's socket closed).
    if (!SDL_GL_SwapWindow(window)) {
      std::fprintf(stderr, "SDL_GL_SwapWindow failed: %s\n", SDL_GetError());
      return false;
    }

    const Uint64 delay = FrameDelayNs(SDL_GetTicksNS() - frameStart);
    if (delay > 0) SDL_DelayNS(delay);
    if (afterFrame && !afterFrame()) running = false;
  }
  // SDL sends a quit request itself when it finds the Wayland connection closed.
  return DisplayConnected() || ReportLostDisplay();
}
