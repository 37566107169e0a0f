// The frame loop: input, one frame, present, then sleep out the rest of a 1/60 s budget.
#pragma once

#include <SDL3/SDL.h>

inline constexpr double frameBudgetSeconds = 0.016666666666666666;

// How long to wait after a frame that took `elapsedNs`: the rest of the budget, or 0 when the
// frame took the whole budget or longer (never a negative or wrapped delay).
Uint64 FrameDelayNs(Uint64 elapsedNs);

// Drains the event queue completely. Returns false when it held a quit request (the window's
// close request or Escape).
bool DrainEvents();

// Called once per turn, after the frame is presented and paced; returning false ends the loop as
// a quit request would. Lets the tools measure the real loop; the program passes none.
using FrameHook = bool (*)();

// Runs frames on `window` until a quit request; the frame that sees the request is still drawn,
// presented and paced. Returns false, after reporting it with SDL's reason, when a frame cannot
// be presented (the display server has gone away): the loop ends there.
bool RunMainLoop(SDL_Window* window, FrameHook afterFrame = nullptr);
