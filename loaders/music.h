// The music: one file loaded under the asset root and played once, fire-and-forget.
#pragma once

#include <SDL3_mixer/SDL_mixer.h>

// The loaded music, or null when loading failed. Released at shutdown.
extern MIX_Audio* music;

// Loads "assets" + relativePath into `music`, writing "Failed to load music: " and SDL's reason
// to standard error on failure.
void LoadMusic(MIX_Mixer* mixer, const char* relativePath);

// Starts `music` once, even when it is null (the mixer then refuses and the failure is
// reported with "Failed to play music: "). In the browser it is heard from its beginning once a
// user's gesture lets the page play sound.
void PlayMusic(MIX_Mixer* mixer);

// Releases the program's hold on the music; playback, if any, ends with the mixer.
void ReleaseMusic();
