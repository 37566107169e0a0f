#include "app/platform.h"

#include <glad/gl.h>

#include <cstdio>

SDL_Window* window = nullptr;
SDL_GLContext glContext = nullptr;
MIX_Mixer* mixer = nullptr;

namespace {

constexpr const char windowTitle[] = "Velmora";
constexpr int windowWidth = 1920;
constexpr int windowHeight = 1080;

bool mixerLibraryReady = false;
bool sdlReady = false;

bool ReportSdlFailure(const char* message) {
  std::fprintf(stderr, "%s%s\n", message, SDL_GetError());
  StopPlatform();
  return false;
}

const char* GlString(GLenum name) {
  const GLubyte* text = glGetString(name);
  return text ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

bool StartPlatform() {
  if (!SDL_Init(SDL_INIT_VIDEO)) return ReportSdlFailure("SDL_Init failed: ");
  sdlReady = true;

  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 6);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);

  window = SDL_CreateWindow(windowTitle, windowWidth, windowHeight,
                            SDL_WINDOW_FULLSCREEN | SDL_WINDOW_OPENGL);
  if (!window) return ReportSdlFailure("SDL_CreateWindow failed: ");

  glContext = SDL_GL_CreateContext(window);
  if (!glContext) return ReportSdlFailure("SDL_GL_CreateContext failed: ");
  if (!SDL_GL_MakeCurrent(window, glContext))
    return ReportSdlFailure("SDL_GL_MakeCurrent failed: ");

  if (!MIX_Init()) return ReportSdlFailure("MIX_Init failed: ");
  mixerLibraryReady = true;
  mixer = MIX_CreateMixerDevice(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, nullptr);
  if (!mixer) return ReportSdlFailure("Failed to create mixer: ");

  if (gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) == 0) {
    std::fputs("Failed to initialize GLAD\n", stderr);
    StopPlatform();
    return false;
  }

  std::printf("OpenGL version: %s\n", GlString(GL_VERSION));
  std::printf("Renderer: %s\n", GlString(GL_RENDERER));
  std::fflush(stdout);  // seen at once by whoever reads a pipe

  SDL_GL_SetSwapInterval(1);
  return true;
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
}
