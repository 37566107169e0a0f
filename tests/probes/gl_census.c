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
//
// It checks glGetError after every draw call (each pass of a frame ends with one) and before each
// swap, and turns on the GL debug output once the program makes its context current (KHR_debug,
// core since 4.3; SDL asks for no debug context, so the probe enables GL_DEBUG_OUTPUT itself and
// notes whether the context is a debug one). It counts the errors (gl_errors, and the first one's
// code and frame: first_gl_error, first_gl_error_frame) and the debug messages of high and medium
// severity (gl_debug_high, gl_debug_medium, debug_context 0 or 1), and writes the first few of
// each to standard error, prefixed "gl_census: ".
//
// With VELMORA_GL_CENSUS_FRAME naming a file, it reads back the frame numbered
// VELMORA_GL_CENSUS_FRAME_NUMBER (from 1; default 1) from the back buffer just before it is
// presented and writes it there as a binary PPM (P6, top row first, the window's pixel size);
// dumped_frame in the census is that number once written. This sees what the program drew where
// the window system cannot show it (zink on a virtual X server without DRI3, desktops that give a
// test no screenshot).
//
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
typedef unsigned int GLbitfield;
typedef unsigned char GLboolean;
typedef char GLchar;
typedef void (*GLDebugCallback)(GLenum source, GLenum type, GLuint id, GLenum severity,
                                GLsizei length, const GLchar* message, const void* user);

#define GL_NO_ERROR 0
#define GL_DONT_CARE 0x1100
#define GL_BACK 0x0405
#define GL_READ_BUFFER 0x0C02
#define GL_PACK_ALIGNMENT 0x0D05
#define GL_RGB 0x1907
#define GL_UNSIGNED_BYTE 0x1401
#define GL_PIXEL_PACK_BUFFER 0x88EB
#define GL_PIXEL_PACK_BUFFER_BINDING 0x88ED
#define GL_READ_FRAMEBUFFER 0x8CA8
#define GL_READ_FRAMEBUFFER_BINDING 0x8CAA
#define GL_CONTEXT_FLAGS 0x821E
#define GL_CONTEXT_FLAG_DEBUG_BIT 0x2
#define GL_DEBUG_OUTPUT_SYNCHRONOUS 0x8242
#define GL_DEBUG_OUTPUT 0x92E0
#define GL_DEBUG_SEVERITY_HIGH 0x9146
#define GL_DEBUG_SEVERITY_MEDIUM 0x9147
#define REPORTED_AT_MOST 5  // errors and debug messages written to standard error

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
static bool ticksFixed;
static Uint64 fixedTicks;
static unsigned long long glErrors, debugHigh, debugMedium, firstGlErrorFrame, dumpedFrame;
static GLenum firstGlError;
static int debugContext = -1;  // unknown until the context is made current
static char* framePath;
static char* frameTempPath;
static unsigned long long frameNumber = 1;
static SDL_FunctionPointer (*realGetProcAddress)(const char*);

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

// Resolves a GL entry point through SDL for the probe's own calls; aborts if there is none.
static SDL_FunctionPointer GlFunction(const char* name) {
  const SDL_FunctionPointer function = realGetProcAddress ? realGetProcAddress(name) : NULL;
  if (!function) {
    fprintf(stderr, "gl_census: %s not found\n", name);
    abort();
  }
  return function;
}

// Takes every error GL has recorded since the last check, counting them against the frame
// being drawn (the frame count plus one) and the call `after`.
static void CheckGlErrors(const char* after) {
  static GLenum (*getError)(void);
  if (!getError) getError = (GLenum (*)(void))GlFunction("glGetError");
  for (int i = 0; i < 16; i++) {  // each flag is reported once, and there are few flags
    const GLenum error = getError();
    if (error == GL_NO_ERROR) return;
    if (glErrors++ == 0) {
      firstGlError = error;
      firstGlErrorFrame = frames + 1;
    }
    if (glErrors <= REPORTED_AT_MOST)
      fprintf(stderr, "gl_census: GL error 0x%04x in frame %llu after %s\n", error, frames + 1,
              after);
  }
}

static SDL_FunctionPointer real_glDrawArrays;
static void census_glDrawArrays(GLenum mode, GLint first, GLsizei count) {
  ((void (*)(GLenum, GLint, GLsizei))real_glDrawArrays)(mode, first, count);
  CheckGlErrors("glDrawArrays");
}

static SDL_FunctionPointer real_glDrawElements;
static void census_glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices) {
  ((void (*)(GLenum, GLsizei, GLenum, const void*))real_glDrawElements)(mode, count, type, indices);
  CheckGlErrors("glDrawElements");
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
    ENTRY(glTexImage2D),       ENTRY(glDrawArrays),           ENTRY(glDrawElements),
};

SDL_FunctionPointer SDL_GL_GetProcAddress(const char* proc) {
  if (!realGetProcAddress) {
    void* symbol = NextSymbol("SDL_GL_GetProcAddress");
    memcpy(&realGetProcAddress, &symbol, sizeof realGetProcAddress);
  }
  const SDL_FunctionPointer function = realGetProcAddress(proc);
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
  fprintf(file,
          "gl_errors %llu\nfirst_gl_error %u\nfirst_gl_error_frame %llu\ngl_debug_high %llu\n"
          "gl_debug_medium %llu\ndebug_context %d\ndumped_frame %llu\n",
          glErrors, firstGlError, firstGlErrorFrame, debugHigh, debugMedium, debugContext,
          dumpedFrame);
  if (fclose(file) == 0) rename(tempPath, censusPath);
  lastWrite = now;
}

static void CountDebugMessage(GLenum source, GLenum type, GLuint id, GLenum severity,
                              GLsizei length, const GLchar* message, const void* user) {
  (void)source, (void)type, (void)length, (void)user;
  if (severity != GL_DEBUG_SEVERITY_HIGH && severity != GL_DEBUG_SEVERITY_MEDIUM) return;
  const unsigned long long seen =
      ++*(severity == GL_DEBUG_SEVERITY_HIGH ? &debugHigh : &debugMedium);
  if (seen <= REPORTED_AT_MOST)
    fprintf(stderr, "gl_census: GL debug message %u (%s) in frame %llu: %s\n", id,
            severity == GL_DEBUG_SEVERITY_HIGH ? "high" : "medium", frames + 1, message);
}

// Turns the debug output on, synchronous so that a message comes within the call that caused it,
// with every message enabled; notes whether the context is a debug context.
static void EnableDebugOutput(void) {
  void (*enable)(GLenum) = (void (*)(GLenum))GlFunction("glEnable");
  void (*getIntegerv)(GLenum, GLint*) = (void (*)(GLenum, GLint*))GlFunction("glGetIntegerv");
  GLint flags = 0;
  getIntegerv(GL_CONTEXT_FLAGS, &flags);
  debugContext = (flags & GL_CONTEXT_FLAG_DEBUG_BIT) != 0;
  enable(GL_DEBUG_OUTPUT);
  enable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  ((void (*)(GLenum, GLenum, GLenum, GLsizei, const GLuint*, GLboolean))GlFunction(
      "glDebugMessageControl"))(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, NULL, 1);
  ((void (*)(GLDebugCallback, const void*))GlFunction("glDebugMessageCallback"))(CountDebugMessage,
                                                                                 NULL);
}

bool SDL_GL_MakeCurrent(SDL_Window* window, SDL_GLContext context) {
  static bool (*real)(SDL_Window*, SDL_GLContext);
  static bool enabled;
  if (!real) {
    void* symbol = NextSymbol("SDL_GL_MakeCurrent");
    memcpy(&real, &symbol, sizeof real);
  }
  const bool made = real(window, context);
  if (made && context && !enabled) {
    if (!realGetProcAddress) {
      void* symbol = NextSymbol("SDL_GL_GetProcAddress");
      memcpy(&realGetProcAddress, &symbol, sizeof realGetProcAddress);
    }
    EnableDebugOutput();
    enabled = true;
  }
  return made;
}

// Writes the back buffer of the window to framePath as a PPM, leaving the GL state the program
// set (read framebuffer, read buffer, pack buffer and alignment) as it was.
static void DumpFrame(SDL_Window* window) {
  static bool (*sizeInPixels)(SDL_Window*, int*, int*);
  if (!sizeInPixels) {
    void* symbol = NextSymbol("SDL_GetWindowSizeInPixels");
    memcpy(&sizeInPixels, &symbol, sizeof sizeInPixels);
  }
  int width = 0, height = 0;
  if (!sizeInPixels(window, &width, &height) || width <= 0 || height <= 0) return;
  void (*getIntegerv)(GLenum, GLint*) = (void (*)(GLenum, GLint*))GlFunction("glGetIntegerv");
  void (*bindFramebuffer)(GLenum, GLuint) =
      (void (*)(GLenum, GLuint))GlFunction("glBindFramebuffer");
  void (*bindBuffer)(GLenum, GLuint) = (void (*)(GLenum, GLuint))GlFunction("glBindBuffer");
  void (*readBuffer)(GLenum) = (void (*)(GLenum))GlFunction("glReadBuffer");
  void (*pixelStorei)(GLenum, GLint) = (void (*)(GLenum, GLint))GlFunction("glPixelStorei");
  void (*readPixels)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*) =
      (void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*))GlFunction("glReadPixels");
  GLint framebuffer = 0, buffer = 0, packBuffer = 0, alignment = 4;
  getIntegerv(GL_READ_FRAMEBUFFER_BINDING, &framebuffer);
  bindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  getIntegerv(GL_READ_BUFFER, &buffer);
  getIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &packBuffer);
  getIntegerv(GL_PACK_ALIGNMENT, &alignment);
  bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  pixelStorei(GL_PACK_ALIGNMENT, 1);
  readBuffer(GL_BACK);
  const size_t row = (size_t)width * 3;
  unsigned char* pixels = malloc(row * (size_t)height);
  if (pixels) readPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  readBuffer((GLenum)buffer);
  pixelStorei(GL_PACK_ALIGNMENT, alignment);
  bindBuffer(GL_PIXEL_PACK_BUFFER, (GLuint)packBuffer);
  bindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)framebuffer);
  CheckGlErrors("the probe's frame read-back");
  FILE* file = pixels ? fopen(frameTempPath, "wb") : NULL;
  if (file) {
    fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (int y = height - 1; y >= 0; y--) fwrite(pixels + (size_t)y * row, 1, row, file);
    if (fclose(file) == 0 && rename(frameTempPath, framePath) == 0) dumpedFrame = frames + 1;
  }
  free(pixels);
}

bool SDL_GL_SwapWindow(SDL_Window* window) {
  static bool (*real)(SDL_Window*);
  if (!real) {
    void* symbol = NextSymbol("SDL_GL_SwapWindow");
    memcpy(&real, &symbol, sizeof real);
  }
  if (realGetProcAddress) CheckGlErrors("the frame's last call");
  if (framePath && frames + 1 == frameNumber) DumpFrame(window);
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
    const size_t length = strlen(frame);
    framePath = strdup(frame);
    frameTempPath = malloc(length + 5);
    if (!framePath || !frameTempPath) abort();
    snprintf(frameTempPath, length + 5, "%s.tmp", frame);
    const char* number = getenv("VELMORA_GL_CENSUS_FRAME_NUMBER");
    if (number && *number) frameNumber = strtoull(number, NULL, 10);
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
  free(frameTempPath);
}
