#include "tools/video_render.h"

#include <glad/gl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "loaders/music.h"
#include "render/frame.h"
#include "tools/video_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int pixelBuffers = 3;  // frames on their way back from the GL: two while one is drawn
constexpr int frameSlots = 4;    // frames read back and waiting for the encoder

// What the drawing thread hands to the encoding thread: frames in slots of its own, the free
// ones and the filled ones in order. The encoder returns each slot once the frame is encoded.
struct Handover {
  VideoFile* video = nullptr;
  MIX_Mixer* mixer = nullptr;
  int fps = 0;
  std::vector<std::vector<unsigned char>> slots;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<int> free, filled;
  bool ended = false;   // no more frames will come
  bool failed = false;  // the encoder failed: `error` says why
  std::string error;
};

bool Generate(MIX_Mixer* mixer, std::vector<float>& sound, long long frames, std::string& error) {
  sound.resize(static_cast<std::size_t>(frames) * videoChannels);
  const int bytes = static_cast<int>(sound.size() * sizeof(float));
  if (MIX_Generate(mixer, sound.data(), bytes) >= 0) return true;
  error = std::string("Mixing the music failed: ") + SDL_GetError();
  return false;
}

// The encoding thread: each frame, then the sound up to the frame's end.
void EncodeFrames(Handover& handover) {
  std::vector<float> sound;
  long long soundDone = 0;
  for (long long frame = 0;; ++frame) {
    int slot = 0;
    {
      std::unique_lock lock(handover.mutex);
      handover.changed.wait(lock, [&] { return !handover.filled.empty() || handover.ended; });
      if (handover.filled.empty()) return;
      slot = handover.filled.front();
      handover.filled.pop_front();
    }
    std::string error;
    const long long soundEnd = (frame + 1) * videoSampleRate / handover.fps;
    // After a failure the frames are only taken, so that the drawing thread never waits in vain.
    const bool ok =
        handover.failed || (WriteVideoFrame(handover.video, handover.slots[slot].data(), error) &&
                            Generate(handover.mixer, sound, soundEnd - soundDone, error) &&
                            WriteVideoSound(handover.video, sound.data(),
                                            static_cast<int>(soundEnd - soundDone), error));
    soundDone = soundEnd;
    {
      std::lock_guard lock(handover.mutex);
      if (!ok) {
        handover.failed = true;
        handover.error = error;
      }
      handover.free.push_back(slot);
    }
    handover.changed.notify_all();
  }
}

// Mixes and drops the music before the first frame's time.
bool SkipSound(MIX_Mixer* mixer, double seconds, std::string& error) {
  std::vector<float> sound;
  long long left = static_cast<long long>(seconds * videoSampleRate + 0.5);
  while (left > 0) {
    const long long part = std::min(left, static_cast<long long>(videoSampleRate));
    if (!Generate(mixer, sound, part, error)) return false;
    left -= part;
  }
  return true;
}

// "video: frame 120 of 3930, 2.8 frames/s, 23:10 left", redrawn at most four times a second.
struct Progress {
  bool shown = false;
  Clock::time_point start = Clock::now(), last;

  void Show(int done, int total) {
    const Clock::time_point now = Clock::now();
    if (!shown || (now - last < std::chrono::milliseconds(250) && done < total)) return;
    last = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double rate = seconds > 0.0 ? done / seconds : 0.0;
    const int left = rate > 0.0 ? static_cast<int>((total - done) / rate + 0.5) : 0;
    std::fprintf(stderr, "\rvideo: frame %d of %d, %.1f frames/s, %d:%02d left  ", done, total,
                 rate, left / 60, left % 60);
    if (done == total) std::fputc('\n', stderr);
  }
};

// Waits for a fence without a time limit, a second at a time.
bool WaitFor(GLsync fence) {
  GLenum result = GL_TIMEOUT_EXPIRED;
  while (result == GL_TIMEOUT_EXPIRED)
    result = glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000);
  glDeleteSync(fence);
  return result != GL_WAIT_FAILED;
}

}  // namespace

MIX_Mixer* CreateVideoMixer() {
  if (!MIX_Init()) {
    std::fprintf(stderr, "MIX_Init failed: %s\n", SDL_GetError());
    return nullptr;
  }
  const SDL_AudioSpec format{SDL_AUDIO_F32, videoChannels, videoSampleRate};
  MIX_Mixer* mixer = MIX_CreateMixer(&format);
  if (!mixer) {
    std::fprintf(stderr, "Failed to create mixer: %s\n", SDL_GetError());
    MIX_Quit();
    return nullptr;
  }
  LoadMusic(mixer, "/audio/test.mp3");
  PlayMusic(mixer);
  return mixer;
}

double MusicSeconds() {
  SDL_AudioSpec format{};
  const Sint64 frames = music ? MIX_GetAudioDuration(music) : 0;
  if (frames <= 0 || !MIX_GetAudioFormat(music, &format) || format.freq <= 0) return 0.0;
  return static_cast<double>(frames) / format.freq;
}

void DestroyVideoMixer(MIX_Mixer* mixer) {
  ReleaseMusic();
  MIX_DestroyMixer(mixer);
  MIX_Quit();
}

bool RenderVideo(const VideoJob& job, MIX_Mixer* mixer, const volatile std::sig_atomic_t* stop) {
  std::string error;
  if (!SkipSound(mixer, job.start, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  Handover handover;
  handover.video = OpenVideo(job.path, job.size, job.fps, job.crf, error);
  if (!handover.video) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  handover.mixer = mixer;
  handover.fps = job.fps;
  const std::size_t bytes = std::size_t{3} * job.size.width * job.size.height;
  handover.slots.assign(frameSlots, std::vector<unsigned char>(bytes));
  for (int slot = 0; slot < frameSlots; ++slot) handover.free.push_back(slot);

  GLuint buffers[pixelBuffers];
  GLsync fences[pixelBuffers] = {};
  glGenBuffers(pixelBuffers, buffers);
  for (const GLuint buffer : buffers) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_STREAM_READ);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);

  std::thread encoder(EncodeFrames, std::ref(handover));
  Progress progress;
  progress.shown = job.progress;
  bool stopped = false, failed = false;
  // Frame n is drawn and its read-back started; then frame n - 2 is taken from its buffer.
  for (int n = 0; n < job.frames + pixelBuffers - 1 && !failed; ++n) {
    if (*stop) {
      stopped = true;
      break;
    }
    if (n < job.frames) {
      RenderFrame(job.size.width, job.size.height,
                  static_cast<float>(job.start + static_cast<double>(n) / job.fps));
      glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[n % pixelBuffers]);
      glReadPixels(0, 0, job.size.width, job.size.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
      fences[n % pixelBuffers] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    }
    const int k = n - (pixelBuffers - 1);
    if (k < 0) continue;
    const int buffer = k % pixelBuffers;
    const bool ready = WaitFor(fences[buffer]);
    fences[buffer] = nullptr;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[buffer]);
    const void* pixels = ready ? glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0,
                                                  static_cast<GLsizeiptr>(bytes), GL_MAP_READ_BIT)
                               : nullptr;
    if (!pixels) {
      error = "Reading frame " + std::to_string(k) + " back failed";
      failed = true;
      break;
    }
    int slot = 0;
    {
      std::unique_lock lock(handover.mutex);
      handover.changed.wait(lock, [&] { return !handover.free.empty(); });
      slot = handover.free.front();
      handover.free.pop_front();
      if (handover.failed) {
        failed = true;
        error = handover.error;
      }
    }
    std::memcpy(handover.slots[slot].data(), pixels, bytes);
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    {
      std::lock_guard lock(handover.mutex);
      handover.filled.push_back(slot);
    }
    handover.changed.notify_all();
    progress.Show(k + 1, job.frames);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  {
    std::lock_guard lock(handover.mutex);
    handover.ended = true;
  }
  handover.changed.notify_all();
  encoder.join();
  for (GLsync fence : fences) {
    if (fence) glDeleteSync(fence);
  }
  glDeleteBuffers(pixelBuffers, buffers);

  if (!failed && handover.failed) {
    failed = true;
    error = handover.error;
  }
  if (stopped || failed) {
    if (progress.shown) std::fputc('\n', stderr);
    AbandonVideo(handover.video);
    if (failed) std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  if (!FinishVideo(handover.video, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  return true;
}
