#include "midi/smf/C_MidiData.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiTrack.h"

namespace cz {

namespace {
void Diagnostic(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}
}  // namespace

int32_t C_MidiData::ValidateHeaderImage(const uint8_t* image, size_t size) {
    if (!ReadHeaderImage(image, size)) return 0;
    if (header_.format > smf::kMaxFormat) {
        Diagnostic("FormatNo > 2\n");
        // No track of the refused file is there: the count says so, so that
        // no caller walks tracks that do not exist.
        header_.trackCount = static_cast<uint16_t>(tracks_.size());
        return 0;
    }
    if (header_.trackCount == 0) {
        Diagnostic("TrackNo == 0\n");
        return 0;
    }
    return 1;
}

uint16_t C_MidiData::GetDivision() { return header_.division; }
uint16_t C_MidiData::GetFormat() { return header_.format; }
uint16_t C_MidiData::GetTrackCount() { return header_.trackCount; }
uint16_t C_MidiData::SetDivision(uint16_t division) { return header_.division = division; }
uint16_t C_MidiData::SetFormat(uint16_t format) { return header_.format = format; }
uint16_t C_MidiData::SetTrackCount(uint16_t count) { return header_.trackCount = count; }
uint32_t C_MidiData::GetTempo() { return tempo_; }

int32_t C_MidiData::LoadImage(const uint8_t* image, size_t size) {
    if (!image) return 0;
    if (!ValidateHeaderImage(image, size)) return 0;
    return ReadTracksImage(image, size);
}

I_MidiTrack* C_MidiData::NewTrack() { return new (std::nothrow) C_MidiTrack(); }

void C_MidiData::DeleteTrack(I_MidiTrack* track) { delete dynamic_cast<C_MidiTrack*>(track); }

int32_t C_MidiData::InsertTrack(uint32_t index, I_MidiTrack* track) {
    if (!track || tracks_.size() >= std::numeric_limits<uint16_t>::max()) return 0;
    const size_t at = index < tracks_.size() ? index : tracks_.size();
    tracks_.insert(tracks_.begin() + static_cast<std::ptrdiff_t>(at), std::unique_ptr<I_MidiTrack>(track));
    header_.trackCount = static_cast<uint16_t>(tracks_.size());
    if (header_.trackCount >= 2 && header_.format == 0) header_.format = 1;
    return 1;
}

int32_t C_MidiData::RemoveTrack(uint32_t index) {
    if (index >= tracks_.size()) return 0;
    tracks_.erase(tracks_.begin() + index);
    header_.trackCount = static_cast<uint16_t>(tracks_.size());
    return 1;
}

I_MidiTrack* C_MidiData::GetTrack(uint32_t index) { return index < tracks_.size() ? tracks_[index].get() : nullptr; }

int32_t C_MidiData::ReadHeaderImage(const uint8_t* image, size_t size) {
    smf::SmfHeader header;
    if (!smf::ParseSmfHeader(image, size, header)) return 0;
    header_ = header;
    return 1;
}

int32_t C_MidiData::ReadTracksImage(const uint8_t* image, size_t size) {
    if (!image || size < smf::kHeaderSize) return ReadTrackChunks(nullptr, 0);
    return ReadTrackChunks(image + smf::kHeaderSize, size - smf::kHeaderSize);
}

int32_t C_MidiData::ReadTrackChunks(const uint8_t* bytes, size_t size) {
    const uint16_t expected = header_.trackCount;
    if (expected == 0) return 1;
    // The count follows the list, also when a fault leaves the tracks read so
    // far in it.
    auto fail = [this](const char* line) {
        if (line) Diagnostic(line);
        header_.trackCount = static_cast<uint16_t>(tracks_.size());
        return 0;
    };
    size_t pos = 0;
    for (uint16_t i = 0; i < expected; ++i) {
        if (size - pos < smf::kChunkHeaderSize || std::memcmp(bytes + pos, "MTrk", 4) != 0)
            return fail("Track ID mismatch\n");
        const uint32_t length = smf::LoadU32BE(bytes + pos + 4);
        pos += smf::kChunkHeaderSize;
        // A body that reaches past the end of the file is cut short: refused
        // before anything of it is read.
        if (length > size - pos) return fail("Set Track Data failed\n");
        I_MidiTrack* track = NewTrack();
        if (!track || tracks_.size() >= std::numeric_limits<uint16_t>::max()) {
            DeleteTrack(track);
            return fail(nullptr);
        }
        tracks_.push_back(std::unique_ptr<I_MidiTrack>(track));
        if (!track->SetData(bytes + pos, length)) return fail("Set Track Data failed\n");
        pos += length;
    }
    header_.trackCount = static_cast<uint16_t>(tracks_.size());
    DetermineTempo();
    return 1;
}

void C_MidiData::DetermineTempo() {
    uint64_t firstNote = std::numeric_limits<uint64_t>::max();
    for (auto& track : tracks_) {
        uint64_t time = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* event = track->GetEvent(i);
            time += event->GetDeltaTime();
            auto* midi = dynamic_cast<C_MidiEvent*>(event);
            if (midi && midi->IsNoteOn()) {
                if (time < firstNote) firstNote = time;
                break;
            }
        }
    }
    for (auto& track : tracks_) {
        uint64_t time = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* event = track->GetEvent(i);
            time += event->GetDeltaTime();
            if (time > firstNote) break;
            auto* midi = dynamic_cast<C_MidiEvent*>(event);
            // A Set Tempo cut short carries no tempo and is passed over.
            if (midi && midi->IsSetTempo() && midi->GetTempoValue() != 0) {
                tempo_ = midi->GetTempoValue();
                return;
            }
        }
    }
}

}  // namespace cz
