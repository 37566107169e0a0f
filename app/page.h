// The program in a web page (the Emscripten build only): the page's canvas as the window, frames
// run by the browser, the music held until the page may play sound, the WebGL context's loss.
#pragma once

#include <SDL3/SDL.h>
#include <SDL3_mixer/SDL_mixer.h>

// Gives the window (the page's canvas) the page's size in device pixels as its drawing size:
// the canvas's CSS size times the device pixel ratio, up to a cap, where that has changed (a
// resize, a rotation, the address bar shown or hidden, a change of zoom or of screen). Called at
// start-up and at the start of every frame, so that a layout that settles late is still followed.
void FollowPage(SDL_Window* window);

// Pauses the mixer's device until the page's audio context runs, which the page asks for at a
// user's gesture; the music then starts from its beginning. Call before the music is played.
void HoldAudioUntilHeard(MIX_Mixer* mixer);

// Hands the frames to the browser and returns: each refresh of its display runs the program's
// frame (at most 60 a second), and a lost WebGL context is asked back and its objects made again.
// A quit request (Escape) ends the demo there and releases everything.
void RunPage(SDL_Window* window);
