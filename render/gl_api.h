// The GL API that the program draws with, and the few places where its two forms differ: OpenGL
// 4.6 core through the glad loader on the desktop, and in the browser WebGL 2 (OpenGL ES 3.0)
// through Emscripten's own GL, which needs no loader.
#pragma once

#include <SDL3/SDL.h>

#ifdef __EMSCRIPTEN__
#include <GLES3/gl3.h>
#else
#include <glad/gl.h>
#endif

// The context asked of SDL: 4.6 core, or ES 3.0, which a browser offers as WebGL 2.
#ifdef __EMSCRIPTEN__
inline constexpr int glContextMajorVersion = 3;
inline constexpr int glContextMinorVersion = 0;
inline constexpr int glContextProfile = SDL_GL_CONTEXT_PROFILE_ES;
#else
inline constexpr int glContextMajorVersion = 4;
inline constexpr int glContextMinorVersion = 6;
inline constexpr int glContextProfile = SDL_GL_CONTEXT_PROFILE_CORE;
#endif

// Loads the GL entry points through SDL_GL_GetProcAddress; false when that fails.
inline bool LoadGlEntryPoints() {
#ifdef __EMSCRIPTEN__
  return true;
#else
  return gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) != 0;
#endif
}

// Names a GL object for debuggers and GL traces. WebGL has no object labels, nor the names of
// the kinds of object, so there the label is left out.
#ifdef __EMSCRIPTEN__
#define LABEL_GL_OBJECT(identifier, name, label) ((void)(name), (void)(label))
#else
#define LABEL_GL_OBJECT(identifier, name, label) glObjectLabel(identifier, name, -1, label)
#endif

// The internal format of a texture uploaded from 8-bit pixels of `format`: the same unsized
// format, except in ES 3.0, which has no unsized one- and two-channel formats and takes R8 and
// RG8 for them.
inline GLint TextureInternalFormat(GLenum format) {
#ifdef __EMSCRIPTEN__
  if (format == GL_RED) return GL_R8;
  if (format == GL_RG) return GL_RG8;
#endif
  return static_cast<GLint>(format);
}
