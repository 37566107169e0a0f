// SDL, the fullscreen OpenGL 4.6 core window (in the browser: the page's canvas with WebGL 2),
// the mixer and the GL entry points.
#pragma once

#include <SDL3/SDL.h>
#include <SDL3_mixer/SDL_mixer.h>

extern SDL_Window* window;
extern SDL_GLContext glContext;
extern MIX_Mixer* mixer;

// Brings the platform up in order: SDL video, the context attributes, the window, the GL
// context (made current), the mixer library and device, the GL entry points; then prints the GL
// version and renderer and asks for vertical sync. On a failure it reports it, releases what it
// created and returns false.
bool StartPlatform();

// False, with SDL's error set, once the display server has closed the connection. Under Wayland
// SDL 3.4 does not stop on its own: where it uses libdecor (compositors without server-side
// decorations: weston, GNOME), libdecor's dispatch, called within SDL's event pumping, spins for
// ever on a closed connection that still holds events, and SDL's own wait for the compositor's
// frame callback does the same within SDL_GL_SwapWindow. Under X11 Xlib ends the process itself.
bool DisplayConnected();

// Releases whatever StartPlatform created, in reverse order: the mixer device, the mixer
// library, the GL context, the window and SDL.
void StopPlatform();
