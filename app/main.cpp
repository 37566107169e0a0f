// Velmora: a fullscreen tile surface lifted by scrolling text, with dithered light shafts and
// music. Takes no arguments; reads its assets below "assets" in the working directory.
#include "app/main_loop.h"
#include "app/platform.h"
#include "app/scene.h"
#include "loaders/music.h"
#include "render/gl_api.h"

int main(int, char**) {
  if (!StartPlatform()) return 1;

  // The light-mask target keeps this size for the whole run: read it once the window manager
  // or compositor has given the window its fullscreen size, which may still be pending.
  SDL_SyncWindow(window);
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(window, &width, &height);
  CreateScene(width, height);
  LoadMusic(mixer, "/audio/test.mp3");
  PlayMusic(mixer);
  PrepareFirstFrame();

  RunMainLoop(window);

  DeleteScene();
  ReleaseMusic();
  StopPlatform();
  return 0;
}
