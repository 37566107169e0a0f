#include "app/platform.h"

#include <cstdio>
#include <cstring>

#include "render/gl_api.h"

SDL_Window* window = nullptr;
SDL_GLContext glContext = nullptr;
MIX_Mixer* mixer = nullptr;

namespace {

constexpr const char windowTitle[] = "Velmora";
constexpr int windowWidth = 1920;
constexpr int windowHeight = 1080;
#ifdef __EMSCRIPTEN__
// In the browser the window is the page's canvas, which the page sizes (web/index.html); its
// drawing size is set from the page's by FollowPage (app/page.cpp). A fullscreen window there
// would take the whole screen at the first click.
constexpr SDL_WindowFlags windowFlags = SDL_WINDOW_OPENGL;
#else
constexpr SDL_WindowFlags windowFlags = SDL_WINDOW_FULLSCREEN | SDL_WINDOW_OPENGL;
#endif

bool mixerLibraryReady = false;
bool sdlReady = false;

// Under Wayland: libwayland-client's wl_display_get_error, and the window's display.
SDL_SharedObject* waylandClient = nullptr;
int (*displayError)(void* display) = nullptr;
void* waylandDisplay = nullptr;

bool ReportSdlFailure(const char* message) {
  std::fprintf(stderr, "%s%s\n", message, SDL_GetError());
  StopPlatform();
  return false;
}

const char* GlString(GLenum name) {
  const GLubyte* text = glGetString(name);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// Notes the window's Wayland display and looks up libwayland-client's wl_display_get_error, which
// SDL does not offer: DisplayConnected asks it. Without the library the check is skipped.
void WatchWaylandDisplay() {
  waylandDisplay = SDL_GetPointerProperty(SDL_GetWindowProperties(window),
                                          SDL_PROP_WINDOW_WAYLAND_DISPLAY_POINTER, nullptr);
  waylandClient = SDL_LoadObject("libwayland-client.so.0");
  if (waylandClient) {
    displayError =
        reinterpret_cast<int (*)(void*)>(SDL_LoadFunction(waylandClient, "wl_display_get_error"));
  }
}

}  // namespace

bool StartPlatform() {
  if (!SDL_Init(SDL_INIT_VIDEO)) return ReportSdlFailure("SDL_Init failed: ");
  sdlReady = true;

  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, glContextMajorVersion);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, glContextMinorVersion);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, glContextProfile);

  window = SDL_CreateWindow(windowTitle, windowWidth, windowHeight, windowFlags);
  if (!window) return ReportSdlFailure("SDL_CreateWindow failed: ");

  glContext = SDL_GL_CreateContext(window);
  if (!glContext) return ReportSdlFailure("SDL_GL_CreateContext failed: ");
  if (!SDL_GL_MakeCurrent(window, glContext))
    return ReportSdlFailure("SDL_GL_MakeCurrent failed: ");

  if (!MIX_Init()) return ReportSdlFailure("MIX_Init failed: ");
  mixerLibraryReady = true;
  mixer = MIX_CreateMixerDevice(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, nullptr);
  if (!mixer) return ReportSdlFailure("Failed to create mixer: ");

  if (!LoadGlEntryPoints()) {
    std::fputs("Failed to initialize GLAD\n", stderr);
    StopPlatform();
    return false;
  }

  std::printf("OpenGL version: %s\n", GlString(GL_VERSION));
  std::printf("Renderer: %s\n", GlString(GL_RENDERER));
  std::fflush(stdout);  // seen at once by whoever reads a pipe

  // Vertical sync, except under Wayland, where the program's own 60 Hz pacing is enough (the
  // compositor shows whole frames only). There SDL waits for the compositor's frame callback
  // itself within SDL_GL_SwapWindow, and once the compositor has gone away with events still
  // queued, SDL 3.4 loops there for ever: the swap never returns to report it.
  const bool wayland = SDL_strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0;
  SDL_GL_SetSwapInterval(wayland ? 0 : 1);
  if (wayland) WatchWaylandDisplay();
  return true;
}

bool DisplayConnected() {
  if (!displayError || !waylandDisplay) return true;
  const int error = displayError(waylandDisplay);
  if (error == 0) return true;
  SDL_SetError("the Wayland connection failed (%s)", std::strerror(error));
  return false;
}

void StopPlatform() {
  if (mixer) MIX_DestroyMixer(mixer);
  mixer = nullptr;
  if (mixerLibraryReady) MIX_Quit();
  mixerLibraryReady = false;
  if (glContext) SDL_GL_DestroyContext(glContext);
  glContext = nullptr;
  if (window) SDL_DestroyWindow(window);
  window = nullptr;
  if (sdlReady) SDL_Quit();
  sdlReady = false;
  if (waylandClient) SDL_UnloadObject(waylandClient);
  waylandClient = nullptr;
  displayError = nullptr;
  waylandDisplay = nullptr;
}
