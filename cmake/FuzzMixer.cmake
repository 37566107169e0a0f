# SDL3_mixer for the fuzz targets: built here from its pinned release archive, with its own
# decoders only (as the portable, Windows and web builds carry it: WAV, AIFF, VOC, AU, MP3 by
# dr_mp3, FLAC by dr_flac, Ogg Vorbis by stb_vorbis), so that the decoders are instrumented like
# the rest and the fuzzer sees their coverage. Without the archive, the system's SDL3_mixer
# (uninstrumented: the fuzzer then sees only the program's own code).
set(VELMORA_FUZZ_MIXER_ARCHIVE "" CACHE FILEPATH "SDL3_mixer's release archive to fuzz against")
if(NOT EXISTS "${VELMORA_FUZZ_MIXER_ARCHIVE}")
  message(STATUS "Fuzzing against the system's SDL3_mixer: no archive at '${VELMORA_FUZZ_MIXER_ARCHIVE}'")
  find_package(SDL3_mixer REQUIRED CONFIG)
  return()
endif()

find_package(SDL3 3.2 REQUIRED CONFIG)
include(FetchContent)
set(BUILD_SHARED_LIBS OFF)
foreach(option IN ITEMS SDLMIXER_VENDORED SDLMIXER_TESTS SDLMIXER_EXAMPLES SDLMIXER_INSTALL
                        SDLMIXER_DEPS_SHARED SDLMIXER_FLAC_LIBFLAC SDLMIXER_GME SDLMIXER_MOD
                        SDLMIXER_MP3_MPG123 SDLMIXER_MIDI SDLMIXER_OPUS
                        SDLMIXER_VORBIS_VORBISFILE SDLMIXER_WAVPACK)
  set(${option} OFF CACHE BOOL "" FORCE)
endforeach()
FetchContent_Declare(sdl3_mixer URL ${VELMORA_FUZZ_MIXER_ARCHIVE}
  URL_HASH SHA256=0cd4fb1d36a0d299086b6f10e5266c7dede3e8060a98a8a92138d74802fc9420)
FetchContent_MakeAvailable(sdl3_mixer)
# stb_vorbis shifts negative values left (defined in C++20 and by every compiler we use, undefined
# in C): not a fault to stop the fuzzer on.
target_compile_options(SDL3_mixer-static PRIVATE -fno-sanitize=shift-base)
