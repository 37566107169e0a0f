// velmora-benchmark: the program's own code measured with Google Benchmark, on the machine it
// runs on. Every benchmark calls the same functions as the program.
//
//   StartUp              each phase of the scene set-up once, in the program's order, up to the
//                        first presented frame (counters, milliseconds)
//   BuildTriangleGrid    the grid from an empty list without capacity, as at start-up
//   OwnCpu               RenderFrame with no GL context current: every GL call lands in the GL
//                        dispatcher's no-op entry, so only the system's own work remains; heap
//                        allocations per frame as counters
//   Frame, Clear, LightMask, Backdrop, Tiles, Composite, Present
//                        a whole frame or one pass of it, timed on the CPU clock around glFinish
//                        (manual time; the GL timer query as a counter), for every pixel size
//                        with the program's grid and for every grid at the window's size
//   Pacing/fits, Pacing/program
//                        the real main loop (RunMainLoop) with a hook that stamps every frame:
//                        intervals, CPU use, heap allocations and GL objects created per frame,
//                        once where frames fit the budget and once as the program runs (20 frames)
//   Video/draw, Video/mp4, Video/webm
//                        frames a second at the window's size of drawing alone (each frame drawn
//                        and finished) and of the video render of the same frames (drawn, read
//                        back through pixel buffers, encoded with the music on another thread,
//                        written to a temporary file); the render's overhead against drawing
//                        alone, in wall time and in the process's CPU time per frame (the work,
//                        which a loaded machine does not change)
//
// Run it from the directory that holds "assets", on an X display at least as large as the
// largest size (scripts/with-xvfb.sh 3840x2160 ...). Besides Google Benchmark's own options
// (--benchmark_filter, --benchmark_repetitions, --benchmark_out=FILE, --benchmark_out_format):
//   --sizes=WxH,...   (480x270,960x540,1920x1080,3840x2160)   --grids=CxR,... (250x64,...,2000x512)
//   --window=WxH      start-up, the grid sweep and the program's pacing (1920x1080)
//   --pacing-frames=N frames of the loop where a frame fits the budget: 192x108, 250x64 (600)
//   --video-frames=N  frames of each Video case (60)
#include <benchmark/benchmark.h>
#include <glad/gl.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/scene.h"
#include "geometry/mesh_buffers.h"
#include "geometry/tile_grid.h"
#include "loaders/texture.h"
#include "render/camera.h"
#include "render/frame.h"
#include "render/light_shafts.h"
#include "render/scene_passes.h"
#include "render/scene_programs.h"
#include "tools/allocation_counter.h"
#include "tools/tool_support.h"
#include "tools/video_render.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::vector<PixelSize> sizes{{480, 270}, {960, 540}, {1920, 1080}, {3840, 2160}};
  std::vector<PixelSize> grids{{250, 64}, {500, 128}, {1000, 256}, {2000, 512}};
  PixelSize window{1920, 1080};
  int pacingFrames = 600;
  int videoFrames = 60;
} options;

const PixelSize programGrid{gridColumns, gridRows};
const Clock::time_point processStart = Clock::now();
GlWindow tool;
PixelSize currentSize, currentGrid;
GLuint timerQuery;
std::vector<std::pair<std::string, double>> startUpPhases;  // name, milliseconds

double Milliseconds(Clock::time_point from, Clock::time_point to = Clock::now()) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The scene's frame time for measured frame `i`: the text moves, as it does in the program.
float FrameTime(long i) {
  return 5.0f + static_cast<float>(i) / 60.0f;
}

bool Present() {
  if (SDL_GL_SwapWindow(tool.window)) return true;
  std::fprintf(stderr, "SDL_GL_SwapWindow failed: %s\n", SDL_GetError());
  return false;
}

// The window at `size` with a light mask of that size, as a program started at that size has
// it, and the tile mesh replaced by a grid of `grid` (the vertex array keeps its layout).
bool UseScene(PixelSize size, PixelSize grid) {
  if (size.width != currentSize.width || size.height != currentSize.height) {
    if (!ResizeGlWindow(tool, size)) return false;
    FitLightMaskTarget(size.width, size.height);
    currentSize = size;
  }
  if (grid.width != currentGrid.width || grid.height != currentGrid.height) {
    BuildTriangleGrid(grid.width, grid.height, gridWidth, gridHeight, tileGap);
    glBindBuffer(GL_ARRAY_BUFFER, tileVbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(tileVertices.size() * sizeof(TileVertex)),
                 tileVertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    currentGrid = grid;
  }
  return true;
}

// ---- Start-up: measured before any benchmark runs, reported by StartUp ----

// Times one step, with the driver's work finished.
template <typename Step>
void Phase(const char* name, Step step) {
  const Clock::time_point start = Clock::now();
  step();
  glFinish();
  startUpPhases.emplace_back(name, Milliseconds(start));
}

bool MeasureStartUp() {
  const Clock::time_point start = Clock::now();
  if (!OpenGlWindow(options.window, false, tool)) return false;
  startUpPhases.emplace_back("platform_ms", Milliseconds(start));
  currentSize = options.window;
  currentGrid = programGrid;
  Phase("grid_ms",
        [] { BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap); });
  Phase("meshes_and_mask_ms", [] { CreateGpuResources(currentSize.width, currentSize.height); });
  Phase("programs_ms", BuildScenePrograms);
  Phase("texture_ms", [] { heightMapTexture = LoadTexture("/textures/text1.jpg"); });
  Phase("first_frame_ms", [] {
    PrepareFirstFrame();
    DrainEvents();
    RenderFrame(currentSize.width, currentSize.height, FrameTime(0));
    Present();
  });
  startUpPhases.emplace_back("total_ms", Milliseconds(processStart));
  return true;
}

void StartUp(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(startUpPhases.back().second / 1e3);
  for (const auto& [name, ms] : startUpPhases) state.counters[name] = ms;
}

// ---- The CPU side ----

// From an empty list without capacity, writing into fresh pages as at start-up: glibc raises its
// mmap threshold once a large block is freed, so the threshold is pinned at its initial value.
void BuildGrid(benchmark::State& state) {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  for (auto _ : state) {
    std::vector<TileVertex>().swap(tileVertices);
    const Clock::time_point start = Clock::now();
    BuildTriangleGrid(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), gridWidth,
                      gridHeight, tileGap);
    state.SetIterationTime(Milliseconds(start) / 1e3);
  }
  // Back to the grid that the tile buffer holds: the tile draws take their count from the list.
  BuildTriangleGrid(currentGrid.width, currentGrid.height, gridWidth, gridHeight, tileGap);
}

void OwnCpu(benchmark::State& state) {
  if (!SDL_GL_MakeCurrent(tool.window, nullptr)) state.SkipWithError(SDL_GetError());
  const AllocationCounts before = CurrentAllocationCounts();
  long i = 0;
  for (auto _ : state) RenderFrame(currentSize.width, currentSize.height, FrameTime(i++));
  const AllocationCounts after = CurrentAllocationCounts();
  SDL_GL_MakeCurrent(tool.window, tool.context);
  if (!AllocationsCounted()) return;  // the sanitizers own the allocator
  using benchmark::Counter;
  state.counters["new_per_frame"] =
      Counter(double(after.newCalls - before.newCalls), Counter::kAvgIterations);
  state.counters["malloc_per_frame"] =
      Counter(double(after.mallocCalls - before.mallocCalls), Counter::kAvgIterations);
}

// ---- Frames and passes ----

enum Pass { whole, clear, lightMask, backdrop, tiles, composite, present, passCount };
const char* const passNames[passCount] = {"Frame", "Clear",     "LightMask", "Backdrop",
                                          "Tiles", "Composite", "Present"};

// The steps of RenderFrame, one at a time, then the present.
void DrawPass(int pass, const CameraMatrices& camera, float time) {
  switch (pass) {
    case whole:
      return RenderFrame(currentSize.width, currentSize.height, time);
    case clear:
      glViewport(0, 0, currentSize.width, currentSize.height);
      glClearColor(0.0f, 0.35f, 0.35f, 1.0f);
      return glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    case lightMask:
      return DrawLightMaskPass(camera, time);
    case backdrop:
      return DrawBackdropPass(camera);
    case tiles:
      return DrawTilePass(camera, time);
    case composite:
      return DrawLightShaftComposite();
    default:
      Present();
  }
}

// Every iteration draws a whole frame, pass by pass, and presents it; only `pass` is timed.
void FrameOrPass(benchmark::State& state, int pass) {
  const PixelSize size{int(state.range(0)), int(state.range(1))};
  if (!UseScene(size, {int(state.range(2)), int(state.range(3))})) {
    return state.SkipWithError("the window could not take the size");
  }
  double timerMs = 0.0;
  long i = 0;
  for (auto _ : state) {
    DrainEvents();
    const float time = FrameTime(i++);
    const CameraMatrices camera = ComputeCameraMatrices(size.width, size.height);
    const auto timed = [&](int step) {
      glFinish();
      const Clock::time_point start = Clock::now();
      glBeginQuery(GL_TIME_ELAPSED, timerQuery);
      DrawPass(step, camera, time);
      glEndQuery(GL_TIME_ELAPSED);
      glFinish();
      state.SetIterationTime(Milliseconds(start) / 1e3);
      GLuint64 ns = 0;
      glGetQueryObjectui64v(timerQuery, GL_QUERY_RESULT, &ns);
      timerMs += static_cast<double>(ns) / 1e6;
    };
    if (pass == whole) {
      timed(whole);
      Present();
      continue;
    }
    for (int step = clear; step < passCount; ++step) {
      step == pass ? timed(step) : DrawPass(step, camera, time);
    }
  }
  state.counters["gl_timer_ms"] = benchmark::Counter(timerMs, benchmark::Counter::kAvgIterations);
}

// ---- Pacing ----

// How many names below 4096 are live GL objects of any kind, found by asking glIs* for each.
int CountGlObjects() {
  int count = 0;
  for (GLuint name = 1; name < 4096; ++name) {
    count += glIsBuffer(name) + glIsTexture(name) + glIsFramebuffer(name) + glIsRenderbuffer(name) +
             glIsVertexArray(name) + glIsProgram(name) + glIsShader(name) + glIsQuery(name) +
             glIsSampler(name) + glIsProgramPipeline(name) + glIsTransformFeedback(name);
  }
  return count;
}

struct Usage {
  rusage process{}, thread{};
  AllocationCounts allocations;
};

constexpr std::size_t pacingWarmup = 3;
std::vector<Uint64> stamps;  // SDL_GetTicksNS after every frame, reserved beforehand
std::size_t plannedFrames;
Usage atStart, atEnd;

Usage TakeUsage() {
  Usage usage;
  usage.allocations = CurrentAllocationCounts();
  getrusage(RUSAGE_SELF, &usage.process);
  getrusage(RUSAGE_THREAD, &usage.thread);
  return usage;
}

// The loop's hook: stamps the frame; ends the loop after the planned number of frames.
bool StampFrame() {
  stamps.push_back(SDL_GetTicksNS());
  if (stamps.size() == pacingWarmup) atStart = TakeUsage();
  if (stamps.size() < plannedFrames) return true;
  atEnd = TakeUsage();
  return false;
}

double CpuSeconds(const rusage& usage) {
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const double position = fraction * double(values.size() - 1);
  const std::size_t below = std::size_t(position), above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (position - double(below));
}

void Pacing(benchmark::State& state, PixelSize size, PixelSize grid, int frames) {
  if (!UseScene(size, grid)) return state.SkipWithError("the window could not take the size");
  for (auto _ : state) {
    stamps.clear();
    stamps.reserve(pacingWarmup + frames);
    plannedFrames = pacingWarmup + frames;
    const int objectsBefore = CountGlObjects();
    RunMainLoop(tool.window, StampFrame);
    state.counters["gl_objects_per_frame"] = double(CountGlObjects() - objectsBefore) / frames;
    state.SetIterationTime(double(stamps.back() - stamps[pacingWarmup - 1]) / 1e9);
  }
  std::vector<double> intervals, deviations;
  for (std::size_t i = pacingWarmup; i < stamps.size(); ++i) {
    intervals.push_back(double(stamps[i] - stamps[i - 1]) / 1e6);
    deviations.push_back(std::fabs(intervals.back() - frameBudgetSeconds * 1e3));
  }
  const double wall = double(stamps.back() - stamps[pacingWarmup - 1]) / 1e9;
  const double thread = CpuSeconds(atEnd.thread) - CpuSeconds(atStart.thread);
  auto& c = state.counters;
  c["frames"] = double(intervals.size());
  c["interval_mean_ms"] = 1e3 * wall / double(intervals.size());
  c["interval_p50_ms"] = Percentile(intervals, 0.5);
  c["interval_p99_ms"] = Percentile(intervals, 0.99);
  c["interval_min_ms"] = *std::min_element(intervals.begin(), intervals.end());
  c["interval_max_ms"] = *std::max_element(intervals.begin(), intervals.end());
  c["deviation_p99_ms"] = Percentile(deviations, 0.99);
  c["process_cpu_percent"] =
      100.0 * (CpuSeconds(atEnd.process) - CpuSeconds(atStart.process)) / wall;
  c["thread_cpu_percent"] = 100.0 * thread / wall;
  c["thread_cpu_per_frame_ms"] = 1e3 * thread / frames;
  c["switches_per_frame"] = double(atEnd.thread.ru_nvcsw - atStart.thread.ru_nvcsw) / frames;
  if (AllocationsCounted()) {
    c["new_per_frame"] = double(atEnd.allocations.newCalls - atStart.allocations.newCalls) / frames;
    c["malloc_per_frame"] =
        double(atEnd.allocations.mallocCalls - atStart.allocations.mallocCalls) / frames;
  }
}

// ---- The video render ----

double drawingFramesPerSecond = 0.0, drawingCpuPerFrame = 0.0;  // of the last Video/draw run

// `extension` empty: drawing alone; else the video render to a file of that kind.
void Video(benchmark::State& state, const char* extension) {
  if (!UseScene(options.window, programGrid))
    return state.SkipWithError("the window could not take the size");
  const std::string path =
      (std::filesystem::temp_directory_path() / "velmora-benchmark").string() + extension;
  const volatile std::sig_atomic_t never = 0;
  double seconds = 0.0, cpu = 0.0;
  for (auto _ : state) {
    MIX_Mixer* mixer = *extension ? CreateVideoMixer() : nullptr;
    if (*extension && !mixer) return state.SkipWithError("no mixer");
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const Clock::time_point start = Clock::now();
    bool ok = true;
    if (*extension) {
      VideoJob job;
      job.path = path;
      job.size = options.window;
      job.start = FrameTime(0);
      job.frames = options.videoFrames;
      ok = RenderVideo(job, mixer, &never);
    } else {
      for (int i = 0; i < options.videoFrames; ++i) {
        RenderFrame(currentSize.width, currentSize.height, FrameTime(i));
        glFinish();
      }
    }
    seconds = Milliseconds(start) / 1e3;
    getrusage(RUSAGE_SELF, &after);
    cpu = CpuSeconds(after) - CpuSeconds(before);
    state.SetIterationTime(seconds);
    if (mixer) DestroyVideoMixer(mixer);
    std::remove(path.c_str());
    if (!ok) return state.SkipWithError("the video render failed");
  }
  const double rate = options.videoFrames / seconds, cpuPerFrame = cpu / options.videoFrames;
  state.counters["frames_per_second"] = rate;
  state.counters["cpu_per_frame_ms"] = 1e3 * cpuPerFrame;
  if (!*extension) {
    drawingFramesPerSecond = rate;
    drawingCpuPerFrame = cpuPerFrame;
  } else if (drawingFramesPerSecond > 0.0) {
    state.counters["overhead_percent"] = 100.0 * (drawingFramesPerSecond / rate - 1.0);
    state.counters["cpu_overhead_percent"] = 100.0 * (cpuPerFrame / drawingCpuPerFrame - 1.0);
  }
}

// ---- Options and registration ----

// Takes this tool's own --name=value options out of argv, leaving Google Benchmark's.
bool ParseOwnOptions(int& argc, char** argv) {
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i], value = arg.substr(arg.find('=') + 1);
    if (arg.rfind("--sizes=", 0) == 0)
      ok = ok && ParseSizeList(value, options.sizes);
    else if (arg.rfind("--grids=", 0) == 0)
      ok = ok && ParseSizeList(value, options.grids);
    else if (arg.rfind("--window=", 0) == 0)
      ok = ok && ParseSize(value, options.window);
    else if (arg.rfind("--pacing-frames=", 0) == 0)
      ok = ok && (options.pacingFrames = std::atoi(value.c_str())) > 1;
    else if (arg.rfind("--video-frames=", 0) == 0)
      ok = ok && (options.videoFrames = std::atoi(value.c_str())) > 0;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  return ok;
}

// Manual time in milliseconds for all but OwnCpu; --benchmark_repetitions gives medians and the
// spread, the JSON output every repetition.
void RegisterAll() {
  using benchmark::RegisterBenchmark;
  const auto add = [](benchmark::internal::Benchmark* b) {
    return b->UseManualTime()->Unit(benchmark::kMillisecond);
  };
  add(RegisterBenchmark("StartUp", StartUp))->Iterations(1);
  for (const PixelSize grid : options.grids) {
    add(RegisterBenchmark("BuildTriangleGrid", BuildGrid))
        ->Args({grid.width, grid.height})
        ->ArgNames({"columns", "rows"})
        ->Iterations(9);
  }
  RegisterBenchmark("OwnCpu", OwnCpu)->Unit(benchmark::kMicrosecond);
  for (int pass = 0; pass < passCount; ++pass) {
    auto* b = add(RegisterBenchmark(passNames[pass], FrameOrPass, pass))
                  ->Iterations(15)
                  ->ArgNames({"width", "height", "columns", "rows"});
    for (const PixelSize size : options.sizes)
      b->Args({size.width, size.height, gridColumns, gridRows});
    for (const PixelSize grid : options.grids) {
      if (grid.width != gridColumns || grid.height != gridRows)
        b->Args({options.window.width, options.window.height, grid.width, grid.height});
    }
  }
  // Once where a frame fits the budget, once with the program's grid and window.
  add(RegisterBenchmark("Pacing/fits", Pacing, PixelSize{192, 108}, PixelSize{250, 64},
                        options.pacingFrames))
      ->Iterations(1);
  add(RegisterBenchmark("Pacing/program", Pacing, options.window, programGrid, 20))->Iterations(1);
  // Drawing alone first: the renders' overhead is measured against it.
  for (const char* extension : {"", ".mp4", ".webm"}) {
    const std::string name = std::string("Video/") + (*extension ? extension + 1 : "draw");
    add(RegisterBenchmark(name, Video, extension))->Iterations(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!ParseOwnOptions(argc, argv)) {
    std::fputs(
        "velmora-benchmark: bad option (see the comment at the top of tools/benchmark.cpp)\n",
        stderr);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  if (!MeasureStartUp()) return 1;
  SDL_GL_SetSwapInterval(1);
  benchmark::AddCustomContext("renderer", GlRenderer());
  benchmark::AddCustomContext("allocations_counted", AllocationsCounted() ? "yes" : "no");
  glGenQueries(1, &timerQuery);
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  glDeleteQueries(1, &timerQuery);
  DeleteScene();
  CloseGlWindow(tool);
  return 0;
}
