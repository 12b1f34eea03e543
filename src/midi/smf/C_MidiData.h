#pragma once

#include <memory>
#include <vector>

#include "midi/smf/I_MidiData.h"
#include "midi/smf/SmfLayout.h"

namespace cz {

class C_MidiData : public I_MidiData {
public:
    C_MidiData() = default;
    C_MidiData(const C_MidiData&) = delete;
    C_MidiData& operator=(const C_MidiData&) = delete;

    int32_t ValidateHeaderImage(const uint8_t* image, size_t size) override;
    uint16_t GetDivision() override;
    uint16_t GetFormat() override;
    uint16_t GetTrackCount() override;
    uint16_t SetDivision(uint16_t division) override;
    uint16_t SetFormat(uint16_t format) override;
    uint16_t SetTrackCount(uint16_t count) override;
    uint32_t GetTempo() override;
    int32_t LoadImage(const uint8_t* image, size_t size) override;
    I_MidiTrack* NewTrack() override;
    void DeleteTrack(I_MidiTrack* track) override;
    int32_t InsertTrack(uint32_t index, I_MidiTrack* track) override;
    int32_t RemoveTrack(uint32_t index) override;
    I_MidiTrack* GetTrack(uint32_t index) override;
    ~C_MidiData() override = default;
    int32_t ReadHeaderImage(const uint8_t* image, size_t size) override;
    int32_t ReadTracksImage(const uint8_t* image, size_t size) override;

protected:
    // Parses trackCount chunks from bytes[0 .. size) (the part of a file
    // after its header) and determines the tempo.
    int32_t ReadTrackChunks(const uint8_t* bytes, size_t size);
    // The Set Tempo in force at the first sounding note of any track.
    void DetermineTempo();
    size_t TrackListSize() const { return tracks_.size(); }

    smf::SmfHeader header_;
    uint32_t tempo_ = smf::kDefaultTempo;
    std::vector<std::unique_ptr<I_MidiTrack>> tracks_;
};

}  // namespace cz
