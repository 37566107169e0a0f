// Velmora: a fullscreen tile surface lifted by scrolling text, with dithered light shafts and
// music. Takes no arguments; reads its assets below "assets" in the working directory.
#include "app/main_loop.h"
#include "app/platform.h"
#include "app/scene.h"
#ifdef __EMSCRIPTEN__
#include "app/page.h"
#endif
#include "loaders/music.h"
#include "render/gl_api.h"

int main(int, char**) {
  if (!StartPlatform()) return 1;

  // A compositor or window manager gives the window its fullscreen size some time after it is
  // created (under Wayland not before a round trip): the light-mask target takes the size the
  // window has once that is applied. A false result only says that the requested state did not
  // come in time (with no window manager at all X leaves the window as created) and sets no
  // error text; the size read next is then still the window's own, so it is not reported.
  SDL_SyncWindow(window);
#ifdef __EMSCRIPTEN__
  FollowPage(window);
#endif
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(window, &width, &height);
  CreateScene(width, height);
  LoadMusic(mixer, "/audio/test.mp3");
  PlayMusic(mixer);
  PrepareFirstFrame();

#ifdef __EMSCRIPTEN__
  RunPage(window);  // the browser runs the frames from here on, for as long as the page lives
  return 0;
#else
  const bool presented = RunMainLoop(window);

  DeleteScene();
  ReleaseMusic();
  StopPlatform();
  return presented ? 0 : 1;
#endif
}
