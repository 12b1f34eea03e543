// Opening any supported sound file from the lower layers (the resampler, the
// chip formats): the format factory installs the opener; until it does, only
// WAV files open.
#pragma once

#include <string>

namespace cz {

class I_WavFile;

using SoundFileOpenerFn = I_WavFile* (*)(const std::string& path);

void SetSoundFileOpener(SoundFileOpenerFn opener);
// A new file object with its samples loaded (release it with Release), or
// none when no format class accepts the file.
I_WavFile* OpenSoundFile(const std::string& path);

}  // namespace cz
