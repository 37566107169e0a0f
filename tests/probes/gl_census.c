// GL object census: a preloaded shared library (LD_PRELOAD) for soak and desktop runs of the real
// program.
//
// It interposes SDL_GL_GetProcAddress, the resolver the program hands to its GL loader, and
// gives back counting wrappers for the entry points that create and delete GL objects. Each kind
// keeps a bitmap of its live names, so deleting name 0, an unknown name or a name twice changes
// nothing. glDeleteShader counts as a deletion even while the shader is still attached.
// It also interposes SDL_GL_SwapWindow to count frames and, on the first frame, on every frame
// that changed the viewport's or the light mask's size, and otherwise at most once a second,
// replaces the file named by VELMORA_GL_CENSUS_FILE with lines "KEY VALUE": phase (running, or
// exit when written at process exit), frames, seconds (since load), live, created, deleted (all
// kinds together) and the live count of each kind. Without that variable it only counts.
// Sizes, from the GL calls: the first viewport set (first_viewport WxH), how many viewports of
// another size followed (other_viewports), the last viewport (viewport WxH) and the frame that
// set it first (viewport_frame); the last texture level 0 defined without data, which is how the
// light mask is made and re-specified (empty_texture WxH, first_empty_texture WxH, empty_textures:
// how many such definitions, empty_texture_frame: the frame of the last one). Frames count from 1;
// what start-up does counts as the first frame's. video_driver and audio_driver are SDL's.
// With VELMORA_FIXED_TICKS set (milliseconds), SDL_GetTicks returns that value, which fixes the
// frame time of every frame while SDL's own clock runs on.
// With VELMORA_GL_CENSUS_FRAME=PATH, the back buffer of frame VELMORA_GL_CENSUS_FRAME_AT (default
// 1) is read at the window's pixel size just before it is presented and written to PATH as a
// binary PPM (P6, top row first): the frame as the program drew it, for desktops that give a
// test no screenshot.
// Everything runs on the thread that owns the GL context, so there are no locks.
#define _GNU_SOURCE
#include <SDL3/SDL_audio.h>
#include <SDL3/SDL_timer.h>
#include <SDL3/SDL_video.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef unsigned int GLuint;
typedef unsigned int GLenum;
typedef int GLint;
typedef int GLsizei;

enum Kind {
  BUFFERS,
  VERTEX_ARRAYS,
  TEXTURES,
  FRAMEBUFFERS,
  RENDERBUFFERS,
  SAMPLERS,
  QUERIES,
  PROGRAMS,
  SHADERS,
  KIND_COUNT
};

static const char* const kindNames[KIND_COUNT] = {"buffers",      "vertex_arrays", "textures",
                                                  "framebuffers", "renderbuffers", "samplers",
                                                  "queries",      "programs",      "shaders"};

struct Census {
  unsigned char* live;  // bit n set: name n is live
  size_t bytes;
  long count, created, deleted;
};

static struct Census census[KIND_COUNT];
static unsigned long long frames;
static struct timespec loadedAt, lastWrite;
static char* censusPath;
static char* tempPath;
static GLsizei firstViewport[2], lastViewport[2], emptyTexture[2], firstEmptyTexture[2];
static unsigned long long viewports, otherViewports, viewportFrame, emptyTextures,
    emptyTextureFrame;
static bool sizeChanged;  // in the frame being drawn
static char* framePath;
static unsigned long long frameAt = 1;
static bool ticksFixed;
static Uint64 fixedTicks;

static void* NextSymbol(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) {
    fprintf(stderr, "gl_census: %s not found\n", name);
    abort();
  }
  return symbol;
}

static void AddName(enum Kind kind, GLuint name) {
  if (name == 0) return;
  struct Census* c = &census[kind];
  const size_t byte = name / 8;
  if (byte >= c->bytes) {
    size_t bytes = c->bytes ? c->bytes : 64;
    while (bytes <= byte) bytes *= 2;
    unsigned char* grown = realloc(c->live, bytes);
    if (!grown) abort();
    memset(grown + c->bytes, 0, bytes - c->bytes);
    c->live = grown;
    c->bytes = bytes;
  }
  const unsigned char bit = (unsigned char)(1u << (name % 8));
  if (!(c->live[byte] & bit)) {
    c->live[byte] |= bit;
    c->count++;
  }
  c->created++;
}

static void RemoveName(enum Kind kind, GLuint name) {
  struct Census* c = &census[kind];
  const size_t byte = name / 8;
  const unsigned char bit = (unsigned char)(1u << (name % 8));
  if (name == 0 || byte >= c->bytes || !(c->live[byte] & bit)) return;
  c->live[byte] &= (unsigned char)~bit;
  c->count--;
  c->deleted++;
}

// One wrapper per entry point; each calls the driver's function saved in real_<name>.
#define GEN(fn, kind)                                        \
  static SDL_FunctionPointer real_##fn;                      \
  static void census_##fn(GLsizei n, GLuint* names) {        \
    ((void (*)(GLsizei, GLuint*))real_##fn)(n, names);       \
    for (GLsizei i = 0; i < n; i++) AddName(kind, names[i]); \
  }
#define GEN_TARGETED(fn, kind)                                         \
  static SDL_FunctionPointer real_##fn;                                \
  static void census_##fn(GLenum target, GLsizei n, GLuint* names) {   \
    ((void (*)(GLenum, GLsizei, GLuint*))real_##fn)(target, n, names); \
    for (GLsizei i = 0; i < n; i++) AddName(kind, names[i]);           \
  }
#define DELETE(fn, kind)                                        \
  static SDL_FunctionPointer real_##fn;                         \
  static void census_##fn(GLsizei n, const GLuint* names) {     \
    for (GLsizei i = 0; i < n; i++) RemoveName(kind, names[i]); \
    ((void (*)(GLsizei, const GLuint*))real_##fn)(n, names);    \
  }

GEN(glGenBuffers, BUFFERS)
GEN(glCreateBuffers, BUFFERS)
DELETE(glDeleteBuffers, BUFFERS)
GEN(glGenVertexArrays, VERTEX_ARRAYS)
GEN(glCreateVertexArrays, VERTEX_ARRAYS)
DELETE(glDeleteVertexArrays, VERTEX_ARRAYS)
GEN(glGenTextures, TEXTURES)
GEN_TARGETED(glCreateTextures, TEXTURES)
DELETE(glDeleteTextures, TEXTURES)
GEN(glGenFramebuffers, FRAMEBUFFERS)
GEN(glCreateFramebuffers, FRAMEBUFFERS)
DELETE(glDeleteFramebuffers, FRAMEBUFFERS)
GEN(glGenRenderbuffers, RENDERBUFFERS)
GEN(glCreateRenderbuffers, RENDERBUFFERS)
DELETE(glDeleteRenderbuffers, RENDERBUFFERS)
GEN(glGenSamplers, SAMPLERS)
GEN(glCreateSamplers, SAMPLERS)
DELETE(glDeleteSamplers, SAMPLERS)
GEN(glGenQueries, QUERIES)
GEN_TARGETED(glCreateQueries, QUERIES)
DELETE(glDeleteQueries, QUERIES)

static SDL_FunctionPointer real_glCreateProgram;
static GLuint census_glCreateProgram(void) {
  const GLuint program = ((GLuint (*)(void))real_glCreateProgram)();
  AddName(PROGRAMS, program);
  return program;
}

static SDL_FunctionPointer real_glCreateShaderProgramv;
static GLuint census_glCreateShaderProgramv(GLenum type, GLsizei count, const char* const* text) {
  const GLuint program =
      ((GLuint (*)(GLenum, GLsizei, const char* const*))real_glCreateShaderProgramv)(type, count,
                                                                                     text);
  AddName(PROGRAMS, program);
  return program;
}

static SDL_FunctionPointer real_glDeleteProgram;
static void census_glDeleteProgram(GLuint program) {
  RemoveName(PROGRAMS, program);
  ((void (*)(GLuint))real_glDeleteProgram)(program);
}

static SDL_FunctionPointer real_glCreateShader;
static GLuint census_glCreateShader(GLenum type) {
  const GLuint shader = ((GLuint (*)(GLenum))real_glCreateShader)(type);
  AddName(SHADERS, shader);
  return shader;
}

static SDL_FunctionPointer real_glDeleteShader;
static void census_glDeleteShader(GLuint shader) {
  RemoveName(SHADERS, shader);
  ((void (*)(GLuint))real_glDeleteShader)(shader);
}

static SDL_FunctionPointer real_glViewport;
static void census_glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  if (viewports++ == 0) {
    firstViewport[0] = width;
    firstViewport[1] = height;
  } else if (width != firstViewport[0] || height != firstViewport[1]) {
    otherViewports++;
  }
  if (viewports == 1 || width != lastViewport[0] || height != lastViewport[1]) {
    lastViewport[0] = width;
    lastViewport[1] = height;
    viewportFrame = frames + 1;
    sizeChanged = true;
  }
  ((void (*)(GLint, GLint, GLsizei, GLsizei))real_glViewport)(x, y, width, height);
}

static SDL_FunctionPointer real_glTexImage2D;
static void census_glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width,
                                GLsizei height, GLint border, GLenum format, GLenum type,
                                const void* pixels) {
  if (level == 0 && !pixels) {
    if (emptyTextures++ == 0) {
      firstEmptyTexture[0] = width;
      firstEmptyTexture[1] = height;
    }
    emptyTexture[0] = width;
    emptyTexture[1] = height;
    emptyTextureFrame = frames + 1;
    sizeChanged = true;
  }
  ((void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
             const void*))real_glTexImage2D)(target, level, internalFormat, width, height, border,
                                             format, type, pixels);
}

#define ENTRY(fn) {#fn, &real_##fn, (SDL_FunctionPointer)census_##fn}
static const struct {
  const char* name;
  SDL_FunctionPointer* real;
  SDL_FunctionPointer wrapper;
} wrappers[] = {
    ENTRY(glGenBuffers),       ENTRY(glCreateBuffers),        ENTRY(glDeleteBuffers),
    ENTRY(glGenVertexArrays),  ENTRY(glCreateVertexArrays),   ENTRY(glDeleteVertexArrays),
    ENTRY(glGenTextures),      ENTRY(glCreateTextures),       ENTRY(glDeleteTextures),
    ENTRY(glGenFramebuffers),  ENTRY(glCreateFramebuffers),   ENTRY(glDeleteFramebuffers),
    ENTRY(glGenRenderbuffers), ENTRY(glCreateRenderbuffers),  ENTRY(glDeleteRenderbuffers),
    ENTRY(glGenSamplers),      ENTRY(glCreateSamplers),       ENTRY(glDeleteSamplers),
    ENTRY(glGenQueries),       ENTRY(glCreateQueries),        ENTRY(glDeleteQueries),
    ENTRY(glCreateProgram),    ENTRY(glCreateShaderProgramv), ENTRY(glDeleteProgram),
    ENTRY(glCreateShader),     ENTRY(glDeleteShader),         ENTRY(glViewport),
    ENTRY(glTexImage2D),
};

SDL_FunctionPointer SDL_GL_GetProcAddress(const char* proc) {
  static SDL_FunctionPointer (*real)(const char*);
  if (!real) {
    void* symbol = NextSymbol("SDL_GL_GetProcAddress");
    memcpy(&real, &symbol, sizeof real);
  }
  const SDL_FunctionPointer function = real(proc);
  if (!function || !proc) return function;
  for (size_t i = 0; i < sizeof wrappers / sizeof wrappers[0]; i++) {
    if (strcmp(proc, wrappers[i].name) == 0) {
      *wrappers[i].real = function;
      return wrappers[i].wrapper;
    }
  }
  return function;
}

static double Seconds(struct timespec from, struct timespec to) {
  return (double)(to.tv_sec - from.tv_sec) + (double)(to.tv_nsec - from.tv_nsec) / 1e9;
}

static void WriteCensus(const char* phase) {
  if (!censusPath) return;
  long live = 0, created = 0, deleted = 0;
  for (int k = 0; k < KIND_COUNT; k++) {
    live += census[k].count;
    created += census[k].created;
    deleted += census[k].deleted;
  }
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  FILE* file = fopen(tempPath, "w");
  if (!file) return;
  fprintf(file, "phase %s\nframes %llu\nseconds %.3f\nlive %ld\ncreated %ld\ndeleted %ld\n", phase,
          frames, Seconds(loadedAt, now), live, created, deleted);
  for (int k = 0; k < KIND_COUNT; k++) fprintf(file, "%s %ld\n", kindNames[k], census[k].count);
  fprintf(file, "viewports %llu\nfirst_viewport %dx%d\nother_viewports %llu\n", viewports,
          firstViewport[0], firstViewport[1], otherViewports);
  fprintf(file, "viewport %dx%d\nviewport_frame %llu\n", lastViewport[0], lastViewport[1],
          viewportFrame);
  fprintf(file, "empty_texture %dx%d\nfirst_empty_texture %dx%d\nempty_textures %llu\n",
          emptyTexture[0], emptyTexture[1], firstEmptyTexture[0], firstEmptyTexture[1],
          emptyTextures);
  fprintf(file, "empty_texture_frame %llu\n", emptyTextureFrame);
  static const char *video = "none", *audio = "none";  // SDL's names are static: kept for the exit
  if (SDL_GetCurrentVideoDriver()) video = SDL_GetCurrentVideoDriver();
  if (SDL_GetCurrentAudioDriver()) audio = SDL_GetCurrentAudioDriver();
  fprintf(file, "video_driver %s\naudio_driver %s\n", video, audio);
  if (fclose(file) == 0) rename(tempPath, censusPath);
  lastWrite = now;
}

#define GL_BACK 0x0405
#define GL_FRAMEBUFFER 0x8D40
#define GL_RGBA 0x1908
#define GL_UNSIGNED_BYTE 0x1401

// Writes the default framebuffer's back buffer, at the window's pixel size, to framePath.
static void WriteFrame(SDL_Window* window) {
  int width = 0, height = 0;
  if (!SDL_GetWindowSizeInPixels(window, &width, &height) || width <= 0 || height <= 0) {
    fprintf(stderr, "gl_census: no window size: %s\n", SDL_GetError());
    return;
  }
  void (*bindFramebuffer)(GLenum, GLuint);
  void (*readBuffer)(GLenum);
  void (*readPixels)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);
  const SDL_FunctionPointer functions[3] = {SDL_GL_GetProcAddress("glBindFramebuffer"),
                                            SDL_GL_GetProcAddress("glReadBuffer"),
                                            SDL_GL_GetProcAddress("glReadPixels")};
  memcpy(&bindFramebuffer, &functions[0], sizeof bindFramebuffer);
  memcpy(&readBuffer, &functions[1], sizeof readBuffer);
  memcpy(&readPixels, &functions[2], sizeof readPixels);
  unsigned char* rgba = malloc((size_t)width * (size_t)height * 4);
  FILE* file = rgba ? fopen(framePath, "wb") : NULL;
  if (file) {
    bindFramebuffer(GL_FRAMEBUFFER, 0);
    readBuffer(GL_BACK);
    readPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);  // rows of 4-byte pixels
    fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (int y = height - 1; y >= 0; y--) {  // GL's bottom row first
      for (int x = 0; x < width; x++)
        fwrite(rgba + ((size_t)y * (size_t)width + (size_t)x) * 4, 1, 3, file);
    }
    if (fclose(file) != 0) fprintf(stderr, "gl_census: cannot write %s\n", framePath);
  } else {
    fprintf(stderr, "gl_census: cannot write %s\n", framePath);
  }
  free(rgba);
}

bool SDL_GL_SwapWindow(SDL_Window* window) {
  static bool (*real)(SDL_Window*);
  if (!real) {
    void* symbol = NextSymbol("SDL_GL_SwapWindow");
    memcpy(&real, &symbol, sizeof real);
  }
  if (framePath && frames + 1 == frameAt) WriteFrame(window);
  const bool swapped = real(window);
  frames++;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (frames == 1 || sizeChanged || Seconds(lastWrite, now) >= 1.0) WriteCensus("running");
  sizeChanged = false;
  return swapped;
}

Uint64 SDL_GetTicks(void) {
  static Uint64 (*real)(void);
  if (ticksFixed) return fixedTicks;
  if (!real) {
    void* symbol = NextSymbol("SDL_GetTicks");
    memcpy(&real, &symbol, sizeof real);
  }
  return real();
}

__attribute__((constructor)) static void LoadCensus(void) {
  clock_gettime(CLOCK_MONOTONIC, &loadedAt);
  const char* ticks = getenv("VELMORA_FIXED_TICKS");
  if (ticks && *ticks) {
    ticksFixed = true;
    fixedTicks = strtoull(ticks, NULL, 10);
  }
  const char* frame = getenv("VELMORA_GL_CENSUS_FRAME");
  if (frame && *frame) {
    framePath = strdup(frame);
    const char* at = getenv("VELMORA_GL_CENSUS_FRAME_AT");
    if (at && *at) frameAt = strtoull(at, NULL, 10);
  }
  const char* path = getenv("VELMORA_GL_CENSUS_FILE");
  if (!path || !*path) return;
  const size_t length = strlen(path);
  censusPath = malloc(length + 1);
  tempPath = malloc(length + 5);
  if (!censusPath || !tempPath) abort();
  memcpy(censusPath, path, length + 1);
  snprintf(tempPath, length + 5, "%s.tmp", path);
}

// Runs after the program's own shutdown has deleted what it deletes.
__attribute__((destructor)) static void UnloadCensus(void) {
  WriteCensus("exit");
  for (int k = 0; k < KIND_COUNT; k++) free(census[k].live);
  free(censusPath);
  free(tempPath);
  free(framePath);
}
