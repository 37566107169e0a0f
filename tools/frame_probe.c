// Frame probe: a shared library preloaded (LD_PRELOAD) into the real program, for what only the
// running process can tell: by ./dev run --on (the frame on desktops that give a script no
// screenshot), by the soak (frames presented) and by the desktop tests (sizes, the frame time). GL
// errors are Mesa's to report (MESA_DEBUG), GL objects made per frame the benchmark's to count.
//
// - VELMORA_FIXED_TICKS (milliseconds): SDL_GetTicks returns that value, which fixes the frame
//   time of every frame while SDL's own clock runs on.
// - VELMORA_PROBE_FILE: after every presented frame, that file is replaced by lines "KEY VALUE":
//   frames (presented so far), viewport (the last glViewport size, WxH) and viewport_frame (the
//   frame that set it first), first_viewport, mask (the last texture level 0 defined without
//   data, which is how the light mask is made and re-specified), mask_frame and first_mask, and
//   SDL's video_driver and audio_driver. Frames count from 1; start-up counts as the first frame.
// - VELMORA_PROBE_FRAME (a path) and VELMORA_PROBE_FRAME_NUMBER (from 1): that frame is read back
//   from the back buffer just before it is presented and written there as a binary PPM, the
//   window's pixel size: what the program drew where the window system shows no screenshot (zink
//   on a virtual X server without DRI3, desktops that give a script none). Without a number, the
//   frame presented next after each SIGUSR1 is.
//
// The probe interposes SDL_GL_GetProcAddress, the resolver the program hands its GL loader, to
// wrap glViewport and glTexImage2D, and SDL_GL_SwapWindow and SDL_GetTicks. Everything runs on the
// thread that owns the GL context.
#define _GNU_SOURCE
#include <SDL3/SDL.h>
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static struct Size {
  int width, height, firstWidth, firstHeight;
  unsigned long frame;  // the frame that set this size first; 0 before any
} viewport, mask;
static unsigned long frames;
static volatile sig_atomic_t readBackAsked;
static void (*realViewport)(int, int, int, int);
static void (*realTexImage2D)(unsigned, int, int, int, int, int, unsigned, unsigned, const void*);

// The next definition of `name` after this library's: the program's SDL.
static SDL_FunctionPointer Next(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  SDL_FunctionPointer function;
  if (!symbol) fprintf(stderr, "frame_probe: %s not found\n", name), abort();
  memcpy(&function, &symbol, sizeof function);  // ISO C has no cast from an object pointer
  return function;
}

static void Note(struct Size* size, int width, int height) {
  if (!size->frame) size->firstWidth = width, size->firstHeight = height;
  if (!size->frame || width != size->width || height != size->height) size->frame = frames + 1;
  size->width = width, size->height = height;
}

static void ProbeViewport(int x, int y, int width, int height) {
  Note(&viewport, width, height);
  realViewport(x, y, width, height);
}

static void ProbeTexImage2D(unsigned target, int level, int internal, int width, int height,
                            int border, unsigned format, unsigned type, const void* pixels) {
  if (level == 0 && !pixels) Note(&mask, width, height);
  realTexImage2D(target, level, internal, width, height, border, format, type, pixels);
}

SDL_FunctionPointer SDL_GL_GetProcAddress(const char* name) {
  const SDL_FunctionPointer function =
      ((SDL_FunctionPointer (*)(const char*))Next("SDL_GL_GetProcAddress"))(name);
  if (function && strcmp(name, "glViewport") == 0) {
    realViewport = (void (*)(int, int, int, int))function;
    return (SDL_FunctionPointer)ProbeViewport;
  }
  if (function && strcmp(name, "glTexImage2D") == 0) {
    realTexImage2D =
        (void (*)(unsigned, int, int, int, int, int, unsigned, unsigned, const void*))function;
    return (SDL_FunctionPointer)ProbeTexImage2D;
  }
  return function;
}

Uint64 SDL_GetTicks(void) {
  const char* fixed = getenv("VELMORA_FIXED_TICKS");
  return fixed ? strtoull(fixed, NULL, 10) : ((Uint64 (*)(void))Next("SDL_GetTicks"))();
}

// Writes `rows` rows of `bytes` each to `path`, the last row first, after `header`, through a
// temporary file, so that a reader never sees half of it.
static void Replace(const char* path, const char* header, const char* data, size_t bytes,
                    int rows) {
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s.tmp", path);
  FILE* file = fopen(temporary, "wb");
  if (!file) return;
  fputs(header, file);
  while (rows-- > 0) fwrite(data + bytes * (size_t)rows, 1, bytes, file);
  if (fclose(file) == 0) rename(temporary, path);
}

// The back buffer as a PPM: RGB rows from the top (GL gives them from the bottom).
static void DumpFrame(SDL_Window* window, const char* path) {
  int width = 0, height = 0;
  char header[64], *data;
  if (!SDL_GetWindowSizeInPixels(window, &width, &height) || width <= 0 || height <= 0 ||
      !(data = malloc((size_t)width * height * 4)))
    return;
  ((void (*)(int, int, int, int, unsigned, unsigned, void*))SDL_GL_GetProcAddress("glReadPixels"))(
      0, 0, width, height, 0x1908, 0x1401, data);  // GL_RGBA, GL_UNSIGNED_BYTE
  for (size_t i = 0; i < (size_t)width * height; i++) memmove(data + 3 * i, data + 4 * i, 3);
  snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height);
  Replace(path, header, data, (size_t)width * 3, height);
  free(data);
}

static void AskReadBack(int signal) {
  (void)signal;
  readBackAsked = 1;
}

__attribute__((constructor)) static void ListenForReadBack(void) {
  if (getenv("VELMORA_PROBE_FRAME") && !getenv("VELMORA_PROBE_FRAME_NUMBER"))
    signal(SIGUSR1, AskReadBack);
}

bool SDL_GL_SwapWindow(SDL_Window* window) {
  const char *framePath = getenv("VELMORA_PROBE_FRAME"),
             *number = getenv("VELMORA_PROBE_FRAME_NUMBER"), *path = getenv("VELMORA_PROBE_FILE"),
             *video = SDL_GetCurrentVideoDriver(), *audio = SDL_GetCurrentAudioDriver();
  if (framePath && (number ? frames + 1 == strtoul(number, NULL, 10) : readBackAsked)) {
    readBackAsked = 0;
    DumpFrame(window, framePath);
  }
  const bool swapped = ((bool (*)(SDL_Window*))Next("SDL_GL_SwapWindow"))(window);
  char text[512];
  const int length =
      snprintf(text, sizeof text,
               "frames %lu\nviewport %dx%d\nviewport_frame %lu\nfirst_viewport %dx%d\nmask %dx%d\n"
               "mask_frame %lu\nfirst_mask %dx%d\nvideo_driver %s\naudio_driver %s\n",
               ++frames, viewport.width, viewport.height, viewport.frame, viewport.firstWidth,
               viewport.firstHeight, mask.width, mask.height, mask.frame, mask.firstWidth,
               mask.firstHeight, video ? video : "none", audio ? audio : "none");
  if (path) Replace(path, "", text, (size_t)length, 1);
  return swapped;
}
