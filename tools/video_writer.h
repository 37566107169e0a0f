// Writes a video file with FFmpeg's libraries: picture frames given as RGB rows (bottom row
// first, as OpenGL reads them) and interleaved 32-bit float stereo sound at videoSampleRate.
// The container and codecs follow the file's extension: .mp4 is H.264 (libx264) and AAC, .webm
// is VP9 (libvpx-vp9) and Opus. Everything is written to a temporary file beside the target
// ("FILE.part"), renamed to the target by FinishVideo and removed by AbandonVideo, so that a
// failed or interrupted run leaves nothing behind. Every failure is one line that names the
// library's reason, in `error`.
#pragma once

#include <string>

#include "tools/gl_window.h"

inline constexpr int videoSampleRate = 48000;
inline constexpr int videoChannels = 2;

struct VideoFile;  // the FFmpeg state, private to video_writer.cpp

// Whether the extension of `path` names a container the writer knows.
bool IsVideoPath(const std::string& path);

// The temporary file written until FinishVideo.
std::string TemporaryVideoPath(const std::string& path);

// The largest constant-quality factor (CRF) of the picture encoder for `path`; lower factors
// give better pictures and larger files.
int LargestVideoCrf(const std::string& path);

// Opens the temporary file and the two encoders for frames of `size` at `fps` a second, at the
// picture encoder's constant-quality factor `crf` (negative: the container's default, 23 for
// H.264 and 33 for VP9). Returns null and sets `error` on failure (and leaves no file).
VideoFile* OpenVideo(const std::string& path, PixelSize size, int fps, int crf, std::string& error);

// Encodes the next frame: size.height rows of size.width * 3 bytes, the bottom row first.
bool WriteVideoFrame(VideoFile* video, const unsigned char* bottomUpRgb, std::string& error);

// Encodes the next `frames` sample frames of interleaved float stereo.
bool WriteVideoSound(VideoFile* video, const float* samples, int frames, std::string& error);

// Drains both encoders, writes the trailer, closes the file and renames it to its target.
// On failure the temporary file is removed. Frees `video` either way.
bool FinishVideo(VideoFile* video, std::string& error);

// Closes and removes the temporary file; frees `video`.
void AbandonVideo(VideoFile* video);
