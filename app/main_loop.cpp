#include "app/main_loop.h"

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

void RunMainLoop(SDL_Window* window, FrameHook afterFrame) {
  bool running = true;
  while (running) {
    const Uint64 frameStart = SDL_GetTicksNS();
    running = DrainEvents();

#ifdef __EMSCRIPTEN__
    FollowPage(window);
#endif
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window, &width, &height);
    const float time = static_cast<float>(SDL_GetTicks()) / 1000.0f;
    RenderFrame(width, height, time);
    SDL_GL_SwapWindow(window);

    const Uint64 delay = FrameDelayNs(SDL_GetTicksNS() - frameStart);
    if (delay > 0) SDL_DelayNS(delay);
    if (afterFrame && !afterFrame()) running = false;
  }
}
