#include "loaders/music.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "loaders/asset_path.h"
#ifdef __EMSCRIPTEN__
#include "app/page.h"
#endif

MIX_Audio* music = nullptr;

namespace {

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The second packet of the Ogg file (a Vorbis stream's comment header), as far as the file holds
// it: its segments gathered across pages in the order the pages come, whatever stream each names,
// as stb_vorbis reads them (it keeps no apart streams).
std::string SecondOggPacket(const uint8_t* file, size_t size) {
  std::string packet;
  int index = 0;
  size_t page = 0;
  while (page + 27 <= size && std::memcmp(file + page, "OggS", 4) == 0) {
    const size_t segments = file[page + 26];
    size_t body = page + 27 + segments;
    if (body > size) break;
    for (size_t segment = 0; segment < segments; ++segment) {
      const size_t length = file[page + 27 + segment];
      const size_t start = std::min(body, size);
      if (index == 1)
        packet.append(reinterpret_cast<const char*>(file) + start, std::min(length, size - start));
      body += length;
      if (length < 255 && index++ == 1) return packet;
    }
    page = body;
  }
  return packet;
}

// The mixer's Ogg Vorbis decoder in the builds that carry their own SDL_mixer (stb_vorbis) takes
// the lengths in the comment header as given: it allocates each and reads it byte by byte, on
// past the end of the file. A file of a few kilobytes that declares a 2 GiB vendor string keeps
// it busy for minutes. True unless the file is Ogg Vorbis with a length there that its comment
// header cannot hold.
bool VorbisCommentLengthsFit(const uint8_t* file, size_t size) {
  if (size < 4 || std::memcmp(file, "OggS", 4) != 0) return true;
  const std::string packet = SecondOggPacket(file, size);
  if (packet.compare(0, 7, "\x03vorbis", 7) != 0) return true;  // not Vorbis: the mixer decides
  const auto* bytes = reinterpret_cast<const uint8_t*>(packet.data());
  size_t at = 7;
  // Reads one length and checks that `unit` bytes each of that many fit in what is left.
  auto fits = [&](size_t unit, uint32_t& length) {
    if (packet.size() - at < 4) return false;
    length = ReadLittleEndian32(bytes + at);
    at += 4;
    return length <= (packet.size() - at) / unit;
  };
  uint32_t vendor = 0, comments = 0, comment = 0;
  if (!fits(1, vendor)) return false;
  at += vendor;
  if (!fits(4, comments)) return false;
  for (uint32_t i = 0; i < comments; ++i) {
    if (!fits(1, comment)) return false;
    at += comment;
  }
  return true;
}

// False, with SDL's error set, when the music's file must not reach the mixer.
bool MusicFileIsSafe(const char* fullPath) {
  size_t size = 0;
  void* file = SDL_LoadFile(fullPath, &size);
  if (!file) return true;  // the mixer reports a missing or unreadable file itself
  const bool fits = VorbisCommentLengthsFit(static_cast<const uint8_t*>(file), size);
  SDL_free(file);
  if (!fits) SDL_SetError("Ogg Vorbis comment header longer than its file");
  return fits;
}

}  // namespace

void LoadMusic(MIX_Mixer* mixer, const char* relativePath) {
  const std::string fullPath = AssetPath(relativePath);
  music =
      MusicFileIsSafe(fullPath.c_str()) ? MIX_LoadAudio(mixer, fullPath.c_str(), false) : nullptr;
  if (!music) std::fprintf(stderr, "Failed to load music: %s\n", SDL_GetError());
}

void PlayMusic(MIX_Mixer* mixer) {
#ifdef __EMSCRIPTEN__
  HoldAudioUntilHeard(mixer);  // browsers keep a page's sound off until a user's gesture
#endif
  if (!MIX_PlayAudio(mixer, music))
    std::fprintf(stderr, "Failed to play music: %s\n", SDL_GetError());
}

void ReleaseMusic() {
  MIX_DestroyAudio(music);
  music = nullptr;
}
