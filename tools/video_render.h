// Renders the demo into a video file: the program's own frame code draws frame n at the frame
// time start + n / fps into the current window's back buffer, pixel buffer objects read the
// frames back while the next ones are drawn, and a thread of its own converts and encodes them
// (tools/video_writer.h) together with the program's music, mixed offline by SDL_mixer from
// its start as the program plays it, so that at frame time t the music is at t.
#pragma once

#include <SDL3_mixer/SDL_mixer.h>

#include <csignal>
#include <string>

#include "tools/gl_window.h"

struct VideoJob {
  std::string path;
  PixelSize size{1920, 1080};
  int fps = 60;
  double start = 0.0;
  int frames = 0;
  int crf = -1;  // the encoder's constant-quality factor; negative: the container's default
  bool progress = false;  // a progress line on standard error
};

// A mixer without a device (interleaved float stereo at the video's rate) playing the program's
// music with the program's own LoadMusic and PlayMusic: their messages when the music cannot be
// loaded, and then silence. Null, after a one-line message, when the mixer cannot be made.
MIX_Mixer* CreateVideoMixer();

// The length of the loaded music in seconds; 0 when there is none.
double MusicSeconds();

// Releases the music and the mixer.
void DestroyVideoMixer(MIX_Mixer* mixer);

// Renders `job` with the scene already created at job.size in the current context; `mixer`
// from CreateVideoMixer, its music not yet advanced. Stops early, removing what it wrote, once
// `*stop` is set (by a signal handler). Reports failures in one line on standard error.
bool RenderVideo(const VideoJob& job, MIX_Mixer* mixer, const volatile std::sig_atomic_t* stop);
