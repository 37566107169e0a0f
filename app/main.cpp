// Velmora: a fullscreen tile surface lifted by scrolling text, with dithered light shafts and
// music. Takes no arguments; reads its assets below "assets" in the working directory.
#include "app/main_loop.h"
#include "app/platform.h"
#include "app/scene.h"
#include "loaders/music.h"
#include "render/gl_api.h"

int main(int, char**) {
  if (!StartPlatform()) return 1;

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
