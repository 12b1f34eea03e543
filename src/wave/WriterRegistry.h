// The seam between a sound's save and the format classes: the writer for a
// format id is created through a table that the format layer installs. Until
// it does, only the WAV writer (id 2) is known.
#pragma once

#include <cstdint>
#include <memory>

namespace cz {

class C_WavFile;

using WriterCreator = std::unique_ptr<C_WavFile> (*)(uint32_t formatId);

void SetWriterCreator(WriterCreator creator);
// The writer object for a format id, or none when no class writes it.
std::unique_ptr<C_WavFile> CreateWriter(uint32_t formatId);

}  // namespace cz
