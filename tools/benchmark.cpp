// velmora-benchmark: measures the program's own code on the machine it runs on and prints a table,
// also written as CSV. Every measurement calls the same functions as the program.
//
//   start-up   each phase of the scene set-up once, as the program runs it, up to the first
//              presented frame
//   grid       BuildTriangleGrid for the program's grid, from an empty list without capacity
//   cpu        the system's own CPU time per frame: RenderFrame with no GL context current, so
//              that every GL call lands in the GL dispatcher's no-op entry and only the system's
//              own work remains; heap allocations in those frames
//   size       one full frame and each pass on its own (CPU clock around glFinish, and GL timer
//              queries) for every pixel size, with the program's grid
//   tiles      the same for every grid, at the window's size
//   pacing     the real main loop (RunMainLoop) with a hook that stamps every frame: intervals,
//              CPU use of the process while it runs, heap allocations and GL objects created
//              per frame; once with a grid and size whose frames fit the budget and once with
//              the program's grid and window size
//
// Run it from the directory that holds "assets", on an X display at least as large as the
// largest size (scripts/with-xvfb.sh 3840x2160 ...). Options:
//   --frames N          measured frames per item (15)       --warmup N     frames before (3)
//   --sizes WxH,...     (480x270,960x540,1920x1080,3840x2160)
//   --grids CxR,...     (250x64,500x128,1000x256,2000x512)
//   --window WxH        start-up and the grid sweep (1920x1080)
//   --pacing-size WxH   (192x108)   --pacing-grid CxR (250x64)   --pacing-frames N (600)
//   --slow-pacing-frames N   frames of the loop with the program's grid and window (20)
//   --cpu-frames N      frames of the no-op run (20000)    --grid-runs N   (9)
//   --sections LIST     which of grid,cpu,size,tiles,pacing to run after start-up (all)
//   --csv FILE          write the rows as CSV
#include <glad/gl.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
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

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int frames = 15;
  int warmup = 3;
  std::vector<PixelSize> sizes{{480, 270}, {960, 540}, {1920, 1080}, {3840, 2160}};
  std::vector<PixelSize> grids{{250, 64}, {500, 128}, {1000, 256}, {2000, 512}};  // columns x rows
  PixelSize window{1920, 1080};
  PixelSize pacingSize{192, 108};
  PixelSize pacingGrid{250, 64};
  int pacingFrames = 600;
  int slowPacingFrames = 20;
  int cpuFrames = 20000;
  int gridRuns = 9;
  std::string sections = "grid,cpu,size,tiles,pacing";
  std::string csvPath;
};

// One line of the table and of the CSV. `value` is the median of `samples` measurements (or
// the single measurement, or a count); `low` and `high` their extremes.
struct Row {
  std::string section;
  std::string name;
  PixelSize size;
  PixelSize grid;
  int samples;
  double value;
  double low;
  double high;
  std::string unit;
};

std::vector<Row> rows;
ToolWindow tool;
const Clock::time_point processStart = Clock::now();

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const double position = fraction * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(position);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (position - static_cast<double>(below));
}

void AddRow(const std::string& section, const std::string& name, PixelSize size, PixelSize grid,
            int samples, double value, double low, double high, const std::string& unit) {
  rows.push_back({section, name, size, grid, samples, value, low, high, unit});
  std::printf("%-9s %-30s %5dx%-5d %5dx%-4d %6d %12.4f %12.4f %12.4f  %s\n", section.c_str(),
              name.c_str(), size.width, size.height, grid.width, grid.height, samples, value, low,
              high, unit.c_str());
  std::fflush(stdout);
}

void AddSeries(const std::string& section, const std::string& name, PixelSize size, PixelSize grid,
               const std::vector<double>& values, const std::string& unit) {
  if (values.empty()) return;
  AddRow(section, name, size, grid, static_cast<int>(values.size()), Percentile(values, 0.5),
         *std::min_element(values.begin(), values.end()),
         *std::max_element(values.begin(), values.end()), unit);
}

void AddValue(const std::string& section, const std::string& name, PixelSize size, PixelSize grid,
              int samples, double value, const std::string& unit) {
  AddRow(section, name, size, grid, samples, value, value, value, unit);
}

// A text field of the CSV, quoted when it holds a comma or a quote.
std::string CsvText(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool WriteCsv(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    std::perror(path.c_str());
    return false;
  }
  std::fputs("section,name,width,height,columns,rows,samples,value,min,max,unit\n", file);
  for (const Row& row : rows) {
    std::fprintf(file, "%s,%s,%d,%d,%d,%d,%d,%.6f,%.6f,%.6f,%s\n", CsvText(row.section).c_str(),
                 CsvText(row.name).c_str(), row.size.width, row.size.height, row.grid.width,
                 row.grid.height, row.samples, row.value, row.low, row.high,
                 CsvText(row.unit).c_str());
  }
  return std::fclose(file) == 0;
}

// ---- Options ----

bool ParseCount(const char* text, int& value, int minimum) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < minimum || number > 100000000) return false;
  value = static_cast<int>(number);
  return true;
}

// A comma-separated list of section names, each one that the benchmark knows.
bool KnownSections(const std::string& list) {
  const std::string known = ",grid,cpu,size,tiles,pacing,";
  std::istringstream in(list);
  std::string name;
  int count = 0;
  while (std::getline(in, name, ',')) {
    if (name.empty() || known.find("," + name + ",") == std::string::npos) return false;
    ++count;
  }
  return count > 0 && list.back() != ',';
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    bool ok = false;
    if (option == "--frames") ok = ParseCount(value, options.frames, 1);
    if (option == "--warmup") ok = ParseCount(value, options.warmup, 0);
    if (option == "--sizes") ok = ParseSizeList(value, options.sizes);
    if (option == "--grids") ok = ParseSizeList(value, options.grids);
    if (option == "--window") ok = ParseSize(value, options.window);
    if (option == "--pacing-size") ok = ParseSize(value, options.pacingSize);
    if (option == "--pacing-grid") ok = ParseSize(value, options.pacingGrid);
    if (option == "--pacing-frames") ok = ParseCount(value, options.pacingFrames, 2);
    if (option == "--slow-pacing-frames") ok = ParseCount(value, options.slowPacingFrames, 2);
    if (option == "--cpu-frames") ok = ParseCount(value, options.cpuFrames, 1);
    if (option == "--grid-runs") ok = ParseCount(value, options.gridRuns, 1);
    if (option == "--sections") {
      options.sections = value;
      ok = KnownSections(value);
    }
    if (option == "--csv") {
      options.csvPath = value;
      ok = true;
    }
    if (!ok) return false;
  }
  return true;
}

// ---- Scene helpers ----

const PixelSize programGrid{gridColumns, gridRows};

// Replaces the tile mesh's contents with a grid of the given size; the vertex array keeps its
// layout, since it refers to the buffer object, not to its storage.
void UploadTileMesh() {
  glBindBuffer(GL_ARRAY_BUFFER, tileVbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(tileVertices.size() * sizeof(TileVertex)),
               tileVertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void UseGrid(PixelSize grid) {
  BuildTriangleGrid(grid.width, grid.height, gridWidth, gridHeight, tileGap);
  UploadTileMesh();
}

// Resizes the window and gives the light mask the new size, as a program started at that size
// would have it.
bool UseSize(PixelSize size) {
  if (!ResizeToolWindow(tool, size)) return false;
  glDeleteTextures(1, &lightMaskTexture);
  glDeleteFramebuffers(1, &lightMaskFramebuffer);
  CreateLightMaskTarget(size.width, size.height);
  return true;
}

bool Present() {
  if (SDL_GL_SwapWindow(tool.window)) return true;
  std::fprintf(stderr, "SDL_GL_SwapWindow failed: %s\n", SDL_GetError());
  return false;
}

// The scene's frame time for measured frame `i`: the text moves, as it does in the program.
float FrameTime(int i) {
  return 5.0f + static_cast<float>(i) / 60.0f;
}

// ---- Start-up ----

// Timestamps of the glCreateShader calls during BuildScenePrograms: every program compiles two
// shaders first, so program k starts at call 2k.
std::vector<Clock::time_point> shaderStarts;
PFNGLCREATESHADERPROC realCreateShader = nullptr;

GLuint GLAD_API_PTR StampedCreateShader(GLenum type) {
  shaderStarts.push_back(Clock::now());
  return realCreateShader(type);
}

// The steps of CreateScene and PrepareFirstFrame in their order, each timed, then the first
// frame as the main loop draws and presents it.
bool MeasureStartUp(const Options& options, double platformMs) {
  const PixelSize size = options.window;
  const PixelSize none{0, 0};
  AddValue("start-up", "platform (SDL, window, context)", size, none, 1, platformMs, "ms");

  Clock::time_point start = Clock::now();
  BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
  AddValue("start-up", "grid generation", size, programGrid, 1, MillisecondsSince(start), "ms");

  start = Clock::now();
  CreateGpuResources(size.width, size.height);
  glFinish();
  AddValue("start-up", "mesh upload + light-mask target", size, programGrid, 1,
           MillisecondsSince(start), "ms");

  shaderStarts.reserve(8);
  realCreateShader = glad_glCreateShader;
  glad_glCreateShader = StampedCreateShader;
  start = Clock::now();
  BuildScenePrograms();
  glFinish();
  const Clock::time_point end = Clock::now();
  glad_glCreateShader = realCreateShader;
  const char* programNames[] = {"tile program", "backdrop program", "light-mask program",
                                "light-shaft program"};
  if (shaderStarts.size() != 8) {
    std::fprintf(stderr, "Expected 8 shaders during the program build, saw %zu\n",
                 shaderStarts.size());
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    const Clock::time_point next = k < 3 ? shaderStarts[2 * k + 2] : end;
    AddValue("start-up", std::string("build ") + programNames[k], size, none, 1,
             std::chrono::duration<double, std::milli>(next - shaderStarts[2 * k]).count(), "ms");
  }

  start = Clock::now();
  heightMapTexture = LoadTexture("/textures/text1.jpg");
  glFinish();
  AddValue("start-up", "texture load", size, none, 1, MillisecondsSince(start), "ms");

  start = Clock::now();
  PrepareFirstFrame();
  DrainEvents();
  RenderFrame(size.width, size.height, FrameTime(0));
  if (!Present()) return false;
  glFinish();
  AddValue("start-up", "first frame (draw + present)", size, programGrid, 1,
           MillisecondsSince(start), "ms");
  AddValue("start-up", "total to first presented frame", size, programGrid, 1,
           MillisecondsSince(processStart), "ms");
  return true;
}

// ---- BuildTriangleGrid ----

// The first call at start-up writes into fresh pages from the system. glibc raises its mmap
// threshold once a large block is freed, after which repeated runs would reuse warm heap memory;
// pinning the threshold at its initial value gives every run fresh pages, as at start-up.
void MeasureGridGeneration(const Options& options) {
  const PixelSize none{0, 0};
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  std::vector<double> fromEmpty;
  for (int run = 0; run < options.gridRuns; ++run) {
    std::vector<TileVertex>().swap(tileVertices);  // back to an empty list without capacity
    const Clock::time_point start = Clock::now();
    BuildTriangleGrid(gridColumns, gridRows, gridWidth, gridHeight, tileGap);
    fromEmpty.push_back(MillisecondsSince(start));
  }
  AddSeries("grid", "BuildTriangleGrid (from empty)", none, programGrid, fromEmpty, "ms");
}

// ---- The system's own CPU work per frame ----

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

bool MeasureOwnCpu(const Options& options) {
  const PixelSize size = options.window;
  if (!SDL_GL_MakeCurrent(tool.window, nullptr)) {
    std::fprintf(stderr, "Releasing the GL context failed: %s\n", SDL_GetError());
    return false;
  }
  constexpr int framesPerBatch = 100;
  const int batches = std::max(1, options.cpuFrames / framesPerBatch);
  std::vector<double> perFrame;
  perFrame.reserve(batches);
  const AllocationCounts before = CurrentAllocationCounts();
  for (int batch = 0; batch < batches; ++batch) {
    const double start = ThreadCpuMicroseconds();
    for (int i = 0; i < framesPerBatch; ++i) RenderFrame(size.width, size.height, FrameTime(i));
    perFrame.push_back((ThreadCpuMicroseconds() - start) / framesPerBatch);
  }
  const AllocationCounts after = CurrentAllocationCounts();
  if (!SDL_GL_MakeCurrent(tool.window, tool.context)) {
    std::fprintf(stderr, "SDL_GL_MakeCurrent failed: %s\n", SDL_GetError());
    return false;
  }
  const int frames = batches * framesPerBatch;
  AddSeries("cpu", "own CPU per frame (GL no-op)", size, programGrid, perFrame, "us");
  if (AllocationsCounted()) {
    AddValue("cpu", "operator new per frame (GL no-op)", size, programGrid, frames,
             static_cast<double>(after.newCalls - before.newCalls) / frames, "count");
    AddValue("cpu", "malloc per frame (GL no-op)", size, programGrid, frames,
             static_cast<double>(after.mallocCalls - before.mallocCalls) / frames, "count");
  }
  return true;
}

// ---- Frames and passes ----

enum Pass { passClear, passLightMask, passBackdrop, passTiles, passComposite, passCount };
const char* passNames[passCount] = {"clear", "light mask", "backdrop", "tiles", "composite"};

// The steps of RenderFrame, one at a time.
void DrawPass(int pass, PixelSize size, const CameraMatrices& camera, float time) {
  switch (pass) {
    case passClear:
      glViewport(0, 0, size.width, size.height);
      glClearColor(0.0f, 0.35f, 0.35f, 1.0f);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      break;
    case passLightMask:
      DrawLightMaskPass(camera, time);
      break;
    case passBackdrop:
      DrawBackdropPass(camera);
      break;
    case passTiles:
      DrawTilePass(camera, time);
      break;
    default:
      DrawLightShaftComposite();
      break;
  }
}

GLuint timerQueries[passCount + 1];

double QueryMilliseconds(GLuint query) {
  GLuint64 nanoseconds = 0;
  glGetQueryObjectui64v(query, GL_QUERY_RESULT, &nanoseconds);
  return static_cast<double>(nanoseconds) / 1e6;
}

// Full frames (RenderFrame, then present) and then each pass on its own, each timed on the CPU
// clock between two glFinish calls and with a GL_TIME_ELAPSED query.
bool MeasureFrames(const Options& options, const std::string& section, PixelSize size,
                   PixelSize grid) {
  for (int i = 0; i < options.warmup; ++i) {
    DrainEvents();
    RenderFrame(size.width, size.height, FrameTime(i));
    if (!Present()) return false;
  }
  glFinish();

  std::vector<double> frame, frameTimer, present;
  for (int i = 0; i < options.frames; ++i) {
    DrainEvents();
    const Clock::time_point start = Clock::now();
    glBeginQuery(GL_TIME_ELAPSED, timerQueries[passCount]);
    RenderFrame(size.width, size.height, FrameTime(i));
    glEndQuery(GL_TIME_ELAPSED);
    glFinish();
    frame.push_back(MillisecondsSince(start));
    const Clock::time_point presentStart = Clock::now();
    if (!Present()) return false;
    glFinish();
    present.push_back(MillisecondsSince(presentStart));
    frameTimer.push_back(QueryMilliseconds(timerQueries[passCount]));
  }

  std::vector<double> passCpu[passCount], passTimer[passCount];
  for (int i = 0; i < options.frames; ++i) {
    DrainEvents();
    const CameraMatrices camera = ComputeCameraMatrices(size.width, size.height);
    for (int pass = 0; pass < passCount; ++pass) {
      const Clock::time_point start = Clock::now();
      glBeginQuery(GL_TIME_ELAPSED, timerQueries[pass]);
      DrawPass(pass, size, camera, FrameTime(i));
      glEndQuery(GL_TIME_ELAPSED);
      glFinish();
      passCpu[pass].push_back(MillisecondsSince(start));
    }
    for (int pass = 0; pass < passCount; ++pass) {
      passTimer[pass].push_back(QueryMilliseconds(timerQueries[pass]));
    }
    if (!Present()) return false;
    glFinish();
  }

  AddSeries(section, "frame", size, grid, frame, "ms");
  AddSeries(section, "present (swap)", size, grid, present, "ms");
  for (int pass = 0; pass < passCount; ++pass) {
    AddSeries(section, passNames[pass], size, grid, passCpu[pass], "ms");
  }
  AddSeries(section, "frame (GL timer)", size, grid, frameTimer, "ms");
  for (int pass = 0; pass < passCount; ++pass) {
    AddSeries(section, std::string(passNames[pass]) + " (GL timer)", size, grid, passTimer[pass],
              "ms");
  }
  return true;
}

// ---- GL objects ----

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

// ---- Pacing ----

struct PacingRecord {
  std::vector<Uint64> stamps;  // SDL_GetTicksNS after every frame, reserved beforehand
  std::size_t warmup = 0;
  std::size_t total = 0;
  rusage processStart{}, processEnd{}, threadStart{}, threadEnd{};
  AllocationCounts allocationsStart, allocationsEnd;
};

PacingRecord pacing;

void TakeUsage(rusage& process, rusage& thread, AllocationCounts& allocations) {
  allocations = CurrentAllocationCounts();
  getrusage(RUSAGE_SELF, &process);
  getrusage(RUSAGE_THREAD, &thread);
}

// The loop's hook: stamps the frame; ends the loop after the planned number of frames.
bool StampFrame() {
  pacing.stamps.push_back(SDL_GetTicksNS());
  if (pacing.stamps.size() == pacing.warmup) {
    TakeUsage(pacing.processStart, pacing.threadStart, pacing.allocationsStart);
  }
  if (pacing.stamps.size() < pacing.total) return true;
  TakeUsage(pacing.processEnd, pacing.threadEnd, pacing.allocationsEnd);
  return false;
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool MeasurePacing(const Options& options, const std::string& name, PixelSize size, PixelSize grid,
                   int frames) {
  const std::string section = "pacing " + name;
  if (!UseSize(size)) return false;
  UseGrid(grid);
  pacing = PacingRecord{};
  pacing.warmup = static_cast<std::size_t>(std::max(options.warmup, 1));
  pacing.total = pacing.warmup + static_cast<std::size_t>(frames);
  pacing.stamps.reserve(pacing.total);

  const int objectsBefore = CountGlObjects();
  RunMainLoop(tool.window, StampFrame);
  const int objectsAfter = CountGlObjects();
  if (pacing.stamps.size() != pacing.total) {
    std::fputs("The main loop ended before the planned number of frames\n", stderr);
    return false;
  }

  std::vector<double> intervals, deviations;
  double sum = 0.0;
  for (std::size_t i = pacing.warmup; i < pacing.total; ++i) {
    const double ms = static_cast<double>(pacing.stamps[i] - pacing.stamps[i - 1]) / 1e6;
    intervals.push_back(ms);
    deviations.push_back(std::fabs(ms - frameBudgetSeconds * 1e3));
    sum += ms;
  }
  const double wallSeconds =
      static_cast<double>(pacing.stamps.back() - pacing.stamps[pacing.warmup - 1]) / 1e9;
  const double processCpu = CpuSeconds(pacing.processEnd) - CpuSeconds(pacing.processStart);
  const double threadCpu = CpuSeconds(pacing.threadEnd) - CpuSeconds(pacing.threadStart);
  const double switches =
      static_cast<double>(pacing.threadEnd.ru_nvcsw - pacing.threadStart.ru_nvcsw);

  AddValue(section, "interval mean", size, grid, frames, sum / frames, "ms");
  AddValue(section, "interval p50", size, grid, frames, Percentile(intervals, 0.5), "ms");
  AddValue(section, "interval p99", size, grid, frames, Percentile(intervals, 0.99), "ms");
  AddValue(section, "interval min", size, grid, frames,
           *std::min_element(intervals.begin(), intervals.end()), "ms");
  AddValue(section, "interval max", size, grid, frames,
           *std::max_element(intervals.begin(), intervals.end()), "ms");
  AddValue(section, "|interval - 1/60 s| p99", size, grid, frames, Percentile(deviations, 0.99),
           "ms");
  AddValue(section, "process CPU / wall", size, grid, frames, 100.0 * processCpu / wallSeconds,
           "percent");
  AddValue(section, "main thread CPU / wall", size, grid, frames, 100.0 * threadCpu / wallSeconds,
           "percent");
  AddValue(section, "main thread CPU per frame", size, grid, frames, 1e3 * threadCpu / frames,
           "ms");
  AddValue(section, "voluntary context switches per frame", size, grid, frames, switches / frames,
           "count");
  AddValue(section, "GL objects created per frame", size, grid, frames,
           static_cast<double>(objectsAfter - objectsBefore) / frames, "count");
  if (AllocationsCounted()) {
    const AllocationCounts& a = pacing.allocationsStart;
    const AllocationCounts& b = pacing.allocationsEnd;
    AddValue(section, "operator new per frame (with driver)", size, grid, frames,
             static_cast<double>(b.newCalls - a.newCalls) / frames, "count");
    AddValue(section, "malloc per frame (with driver)", size, grid, frames,
             static_cast<double>(b.mallocCalls - a.mallocCalls) / frames, "count");
  }
  return true;
}

bool Selected(const Options& options, const std::string& section) {
  return ("," + options.sections + ",").find("," + section + ",") != std::string::npos;
}

bool RunBenchmark(const Options& options) {
  const Clock::time_point platformStart = Clock::now();
  if (!OpenToolWindow(options.window, false, tool)) return false;
  if (!SDL_GL_SetSwapInterval(1)) {
    std::fprintf(stderr, "SDL_GL_SetSwapInterval failed: %s\n", SDL_GetError());
  }
  const double platformMs = MillisecondsSince(platformStart);

  std::printf("Renderer: %s\n", GlRenderer().c_str());
  if (GlRenderer().find("llvmpipe") != std::string::npos) {
    std::puts(
        "Note: llvmpipe's GL timer queries are not trustworthy (it rasterises on worker "
        "threads after the query ends); use the CPU-clock rows.");
  }
  if (!AllocationsCounted()) std::puts("Note: heap allocations are not counted in this build.");
  std::printf("%-9s %-30s %11s %10s %6s %12s %12s %12s  %s\n", "section", "name", "size", "grid",
              "n", "median", "min", "max", "unit");

  if (!MeasureStartUp(options, platformMs)) return false;
  glGenQueries(passCount + 1, timerQueries);
  if (Selected(options, "grid")) MeasureGridGeneration(options);
  if (Selected(options, "cpu") && !MeasureOwnCpu(options)) return false;

  for (const PixelSize size : options.sizes) {
    if (!Selected(options, "size")) break;
    if (!UseSize(size) || !MeasureFrames(options, "size", size, programGrid)) return false;
  }
  if (!UseSize(options.window)) return false;
  for (const PixelSize grid : options.grids) {
    if (!Selected(options, "tiles")) break;
    std::vector<TileVertex>().swap(tileVertices);  // from empty, as at start-up
    const Clock::time_point start = Clock::now();
    BuildTriangleGrid(grid.width, grid.height, gridWidth, gridHeight, tileGap);
    AddValue("tiles", "BuildTriangleGrid", options.window, grid, 1, MillisecondsSince(start), "ms");
    UploadTileMesh();
    if (!MeasureFrames(options, "tiles", options.window, grid)) return false;
  }

  if (Selected(options, "pacing")) {
    if (!MeasurePacing(options, "fits", options.pacingSize, options.pacingGrid,
                       options.pacingFrames) ||
        !MeasurePacing(options, "program", options.window, programGrid, options.slowPacingFrames)) {
      return false;
    }
  }
  glDeleteQueries(passCount + 1, timerQueries);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(
        "usage: velmora-benchmark [--frames N] [--warmup N] [--sizes WxH,...] [--grids CxR,...]\n"
        "         [--window WxH] [--pacing-size WxH] [--pacing-grid CxR] [--pacing-frames N]\n"
        "         [--slow-pacing-frames N] [--cpu-frames N] [--grid-runs N]\n"
        "         [--sections grid,cpu,size,tiles,pacing] [--csv FILE]\n",
        stderr);
    return 2;
  }
  bool ok = RunBenchmark(options);
  if (tool.context) {
    DeleteScene();
    CloseToolWindow(tool);
  }
  if (ok && !options.csvPath.empty()) ok = WriteCsv(options.csvPath);
  return ok ? 0 : 1;
}
