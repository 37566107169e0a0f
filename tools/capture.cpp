// velmora-capture: renders chosen frames of the scene offscreen, at a chosen pixel size and
// chosen times, with the program's own scene set-up and frame code, and writes them as PNG
// pictures or as a short clip (PNG frames joined by ffmpeg). With --match it finds the frame time
// of a screenshot of the program (taken at the same size) instead: the whole millisecond between
// FROM and TO whose frame differs least, printed as "SECONDS SHARE", SHARE being the share of
// pixels with a channel more than 2 off (the capture test's tolerance). With --video it renders
// the demo with its music into a video file (tools/video_render.h): by default at 1920x1080 and
// 60 frames a second from the start to the end of the music (10 seconds when the music cannot be
// loaded), with a progress line when standard error is a terminal; --crf sets the picture
// encoder's constant-quality factor (H.264 23 and VP9 33 by default; higher is smaller).
//
//   velmora-capture [--size WxH] [--frame SECONDS FILE.png]...
//                   [--clip FILE.gif|.webp|.mp4|.webm --start SECONDS --seconds SECONDS --fps N
//                    [--frames-dir DIR]] [--match SCREENSHOT.png FROM TO]
//   velmora-capture --video FILE.mp4|.webm [--size WxH] [--fps N] [--start SECONDS]
//                   [--seconds SECONDS] [--crf N]
//
// Run it from the directory that holds "assets" (the height map is read from there), on an X
// display (scripts/with-xvfb.sh).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <glad/gl.h>
#include <spawn.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/scene.h"
#include "render/frame.h"
#include "tools/tool_support.h"
#include "tools/video_render.h"
#include "tools/video_writer.h"

extern char** environ;

namespace {

struct Still {
  float time;
  std::string path;
};

struct Options {
  PixelSize size{1920, 1080};
  std::vector<Still> stills;
  std::string clipPath;
  float clipStart = 0.0f;
  float clipSeconds = 4.0f;
  int clipFps = 10;
  bool secondsGiven = false, fpsGiven = false;
  std::string videoPath;
  int videoCrf = -1;
  std::string framesDir;  // empty: a temporary folder, removed afterwards
  std::string matchPath;
  int matchFromMs = 0;
  int matchToMs = 0;
};

// --match tries every 40 ms, then every 5 ms within 40 ms of the best so far, then every
// millisecond within 5 ms of it. A frame 1 ms off already differs in a few percent of its pixels;
// the difference grows steadily for over 100 ms, so the coarse steps lead to the right one.
constexpr int matchStepsMs[] = {40, 5, 1};

void PrintUsage() {
  std::fputs(
      "usage: velmora-capture [--size WxH] [--frame SECONDS FILE.png]...\n"
      "                       [--clip FILE --start SECONDS --seconds SECONDS --fps N"
      " [--frames-dir DIR]]\n"
      "                       [--match SCREENSHOT.png FROM TO]\n"
      "       velmora-capture --video FILE [--size WxH] [--fps N] [--start SECONDS]"
      " [--seconds SECONDS] [--crf N]\n"
      "A clip's format follows its extension: .gif, .webp, .mp4 or .webm; a video's .mp4 or"
      " .webm.\n",
      stderr);
}

bool ParseNumber(const char* text, float& value) {
  char* end = nullptr;
  value = std::strtof(text, &end);
  return end != text && *end == '\0' && std::isfinite(value);
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const int left = argc - i - 1;
    float number = 0.0f;
    if (option == "--size" && left >= 1) {
      if (!ParseSize(argv[++i], options.size)) return false;
    } else if (option == "--frame" && left >= 2) {
      if (!ParseNumber(argv[++i], number)) return false;
      options.stills.push_back({number, argv[++i]});
    } else if (option == "--clip" && left >= 1) {
      options.clipPath = argv[++i];
    } else if (option == "--start" && left >= 1) {
      if (!ParseNumber(argv[++i], options.clipStart)) return false;
    } else if (option == "--seconds" && left >= 1) {
      if (!ParseNumber(argv[++i], options.clipSeconds) || options.clipSeconds <= 0.0f) return false;
      options.secondsGiven = true;
    } else if (option == "--fps" && left >= 1) {
      if (!ParseNumber(argv[++i], number) || number < 1.0f || number > 1000.0f) return false;
      options.clipFps = static_cast<int>(number);
      options.fpsGiven = true;
    } else if (option == "--video" && left >= 1) {
      options.videoPath = argv[++i];
    } else if (option == "--crf" && left >= 1) {
      if (!ParseNumber(argv[++i], number) || number < 0.0f || number != std::floor(number))
        return false;
      options.videoCrf = static_cast<int>(number);
    } else if (option == "--frames-dir" && left >= 1) {
      options.framesDir = argv[++i];
    } else if (option == "--match" && left >= 3) {
      options.matchPath = argv[++i];
      float from = 0.0f, to = 0.0f;
      if (!ParseNumber(argv[++i], from) || !ParseNumber(argv[++i], to) || from < 0.0f || to < from)
        return false;
      options.matchFromMs = static_cast<int>(std::lround(from * 1000.0f));
      options.matchToMs = static_cast<int>(std::lround(to * 1000.0f));
    } else {
      return false;
    }
  }
  const bool other =
      !options.stills.empty() || !options.clipPath.empty() || !options.matchPath.empty();
  return options.videoPath.empty() ? other : !other;
}

// Renders the frame at `time` and writes it as an RGB PNG.
bool CaptureFrame(PixelSize size, float time, const std::string& path) {
  RenderFrame(size.width, size.height, time);
  glFinish();
  const std::vector<unsigned char> pixels = ReadFrameRgb(size);
  if (!stbi_write_png(path.c_str(), size.width, size.height, 3, pixels.data(), size.width * 3)) {
    std::fprintf(stderr, "Failed to write %s\n", path.c_str());
    return false;
  }
  return true;
}

// The ffmpeg arguments that turn numbered PNG frames into the clip named by `outPath`.
std::vector<std::string> FfmpegArguments(const std::string& framePattern, int fps,
                                         const std::string& outPath) {
  std::vector<std::string> args = {
      "ffmpeg", "-y", "-loglevel", "error", "-framerate", std::to_string(fps), "-i", framePattern};
  const std::string extension = std::filesystem::path(outPath).extension().string();
  if (extension == ".gif") {
    // One palette for the whole clip; no error diffusion, which would shimmer on the dither.
    args.insert(
        args.end(),
        {"-filter_complex",
         "split[a][b];[a]palettegen=max_colors=128[p];[b][p]paletteuse=dither=none", "-loop", "0"});
  } else if (extension == ".webp") {
    args.insert(args.end(), {"-c:v", "libwebp_anim", "-quality", "70", "-loop", "0"});
  } else if (extension == ".mp4") {
    args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "23"});
  } else if (extension == ".webm") {
    args.insert(args.end(), {"-c:v", "libvpx-vp9", "-b:v", "0", "-crf", "33"});
  }
  args.push_back(outPath);
  return args;
}

bool RunCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "Could not start %s\n", argv[0]);
    return false;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    return false;
  }
  return true;
}

bool CaptureClip(const Options& options) {
  namespace fs = std::filesystem;
  std::error_code error;
  const bool temporary = options.framesDir.empty();
  fs::path dir = options.framesDir;
  if (temporary) {
    std::string pattern = (fs::temp_directory_path() / "velmora-clip-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("velmora-capture: mkdtemp");
      return false;
    }
    dir = pattern;
  } else if (fs::create_directories(dir, error); error) {
    std::fprintf(stderr, "Cannot create %s: %s\n", dir.c_str(), error.message().c_str());
    return false;
  }

  const int frames = static_cast<int>(std::lround(options.clipSeconds * options.clipFps));
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.png", i);
    const float time = options.clipStart + static_cast<float>(i) / options.clipFps;
    ok = CaptureFrame(options.size, time, (dir / name).string());
    std::fprintf(stderr, "\rclip: frame %d of %d", i + 1, frames);
  }
  std::fputc('\n', stderr);
  if (ok) {
    ok = RunCommand(
        FfmpegArguments((dir / "frame-%05d.png").string(), options.clipFps, options.clipPath));
  }
  if (temporary) fs::remove_all(dir, error);
  if (ok) std::fprintf(stderr, "clip: %s, %d frames\n", options.clipPath.c_str(), frames);
  return ok;
}

// Finds the frame time of a screenshot as the program samples it (SDL_GetTicks() milliseconds
// / 1000) and prints it with the share of pixels that still differ.
bool MatchScreenshot(const Options& options) {
  stbi_set_flip_vertically_on_load(false);  // the scene's texture loader turns it on
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load(options.matchPath.c_str(), &width, &height, &channels, 3);
  if (!pixels) {
    std::fprintf(stderr, "Cannot read %s: %s\n", options.matchPath.c_str(), stbi_failure_reason());
    return false;
  }
  if (width != options.size.width || height != options.size.height) {
    std::fprintf(stderr, "%s is %dx%d, not %dx%d\n", options.matchPath.c_str(), width, height,
                 options.size.width, options.size.height);
    stbi_image_free(pixels);
    return false;
  }
  const std::vector<unsigned char> picture(pixels, pixels + std::size_t{3} * width * height);
  stbi_image_free(pixels);
  int bestMs = options.matchFromMs;
  double bestShare = 2.0;
  const auto tryFrame = [&](int ms) {
    RenderFrame(options.size.width, options.size.height, static_cast<float>(ms) / 1000.0f);
    glFinish();
    const double share = DifferentShare(ReadFrameRgb(options.size), picture);
    if (share < bestShare) {
      bestShare = share;
      bestMs = ms;
    }
  };
  int fromMs = options.matchFromMs, toMs = options.matchToMs;
  for (const int step : matchStepsMs) {
    for (int ms = fromMs; ms <= toMs; ms += step) tryFrame(ms);
    fromMs = std::max(options.matchFromMs, bestMs - step + 1);
    toMs = std::min(options.matchToMs, bestMs + step - 1);
  }
  std::printf("%.3f %.6f\n", bestMs / 1000.0, bestShare);
  return true;
}

volatile std::sig_atomic_t stopSignal = 0;  // SIGINT or SIGTERM once one came during --video

void OnStopSignal(int signal) {
  stopSignal = signal;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "velmora-capture: %s\n", message.c_str());
  return 1;
}

// --video: what can be checked before anything is drawn (the name, the size, whether the folder
// takes the file, the start against the music), then the window at the size, the scene and the
// render. A SIGINT or SIGTERM during the render removes the partial file and ends the process
// with that signal.
int MakeVideo(const Options& options) {
  const std::string& path = options.videoPath;
  const std::string size =
      std::to_string(options.size.width) + "x" + std::to_string(options.size.height);
  if (!IsVideoPath(path)) return Refuse(path + ": unknown video format (use .mp4 or .webm)");
  if (options.size.width % 2 != 0 || options.size.height % 2 != 0)
    return Refuse("the video size must be even in both directions, not " + size);
  if (options.clipStart < 0.0f) return Refuse("--start must not be negative");
  if (options.videoCrf > LargestVideoCrf(path))
    return Refuse("--crf goes up to " + std::to_string(LargestVideoCrf(path)) + " for " + path);

  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const std::string temporary = TemporaryVideoPath(path);
  FILE* probe = std::fopen(temporary.c_str(), "wb");
  if (!probe) return Refuse("cannot write " + path + ": " + std::strerror(errno));
  std::fclose(probe);
  std::remove(temporary.c_str());

  MIX_Mixer* mixer = CreateVideoMixer();
  if (!mixer) return 1;
  const double musicSeconds = MusicSeconds();
  if (musicSeconds > 0.0 && options.clipStart >= musicSeconds) {
    DestroyVideoMixer(mixer);
    char message[128];
    std::snprintf(message, sizeof message, "--start %g is past the end of the music (%.2f s)",
                  options.clipStart, musicSeconds);
    return Refuse(message);
  }
  const double seconds = options.secondsGiven ? options.clipSeconds
                         : musicSeconds > 0.0 ? musicSeconds - options.clipStart
                                              : 10.0;
  VideoJob job;
  job.path = path;
  job.size = options.size;
  job.fps = options.fpsGiven ? options.clipFps : 60;
  job.start = options.clipStart;
  job.frames = std::max(1, static_cast<int>(std::lround(seconds * job.fps)));
  job.crf = options.videoCrf;
  job.progress = isatty(STDERR_FILENO);

  GlWindow tool;
  if (!OpenGlWindow(options.size, true, tool)) {
    DestroyVideoMixer(mixer);
    return 1;
  }
  // The window system may give a window larger than the GL draws into (X does): the frame's
  // viewport and the light mask's texture bound what can be rendered.
  GLint viewport[2] = {}, texture = 0;
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
  const int widest = std::min(viewport[0], texture), highest = std::min(viewport[1], texture);
  if (options.size.width > widest || options.size.height > highest) {
    DestroyVideoMixer(mixer);
    CloseGlWindow(tool);
    return Refuse("the GL renders at most " + std::to_string(widest) + "x" +
                  std::to_string(highest) + ", not " + size);
  }
  CreateScene(options.size.width, options.size.height);
  PrepareFirstFrame();
  const bool ok = RenderVideo(job, mixer, &stopSignal);
  DeleteScene();
  DestroyVideoMixer(mixer);
  CloseGlWindow(tool);
  if (stopSignal != 0) {
    std::fprintf(stderr, "velmora-capture: interrupted, %s not written\n", path.c_str());
    std::signal(stopSignal, SIG_DFL);
    std::raise(stopSignal);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage();
    return 2;
  }
  if (!options.videoPath.empty()) return MakeVideo(options);

  GlWindow tool;
  if (!OpenGlWindow(options.size, true, tool)) return 1;
  CreateScene(options.size.width, options.size.height);
  PrepareFirstFrame();

  bool ok = true;
  for (const Still& still : options.stills) {
    ok = CaptureFrame(options.size, still.time, still.path) && ok;
  }
  if (!options.clipPath.empty()) ok = CaptureClip(options) && ok;
  if (!options.matchPath.empty()) ok = MatchScreenshot(options) && ok;

  DeleteScene();
  CloseGlWindow(tool);
  return ok ? 0 : 1;
}
