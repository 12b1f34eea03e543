#include "midi/smf/C_MidiEvent.h"

#include <cstring>

#include "midi/smf/SmfLayout.h"

namespace cz {

int32_t C_MidiEvent::Write(uint8_t* buffer, uint32_t* size, int32_t omitStatus) {
    if (!buffer) return 0;
    const bool omit = omitStatus && !data_.empty();
    uint32_t n = WriteDeltaTime(buffer);
    const size_t skip = omit ? 1 : 0;
    if (data_.size() > skip) std::memcpy(buffer + n, data_.data() + skip, data_.size() - skip);
    n += static_cast<uint32_t>(data_.size() - skip);
    if (size) *size = n;
    return 1;
}

uint32_t C_MidiEvent::GetSize() { return GetDeltaTimeLength() + static_cast<uint32_t>(data_.size()); }

int32_t C_MidiEvent::SetData(uint8_t status, const uint8_t* bytes, int32_t length) {
    data_.clear();
    if (length < 1 || (length > 1 && !bytes)) return 0;
    data_.reserve(static_cast<size_t>(length));
    data_.push_back(status);
    data_.insert(data_.end(), bytes, bytes + (length - 1));
    return 1;
}

int32_t C_MidiEvent::SetData(const uint8_t* bytes, int32_t length) {
    data_.clear();
    if (length < 1 || !bytes) return 0;
    data_.assign(bytes, bytes + length);
    return 1;
}

int32_t C_MidiEvent::GetDataLength() { return static_cast<int32_t>(data_.size()); }

uint32_t C_MidiEvent::ReadDeltaTime(const uint8_t* bytes) {
    uint32_t v = 0;
    uint32_t n = 0;
    for (;;) {
        const uint8_t b = bytes[n++];
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    delta_ = v;
    return n;
}

void C_MidiEvent::SetDeltaTime(uint32_t ticks) { delta_ = ticks; }

uint32_t C_MidiEvent::WriteDeltaTime(uint8_t* buffer) { return static_cast<uint32_t>(smf::WriteVlq(buffer, delta_)); }

uint32_t C_MidiEvent::GetDeltaTime() { return delta_; }

uint32_t C_MidiEvent::GetDeltaTimeLength() { return static_cast<uint32_t>(smf::VlqLength(delta_)); }

uint8_t C_MidiEvent::GetStatus() { return data_.empty() ? 0 : data_[0]; }

const uint8_t* C_MidiEvent::GetData() { return data_.empty() ? nullptr : data_.data(); }

uint8_t C_MidiEvent::GetChannel() {
    if (data_.empty() || data_[0] >= 0xF0) return 0xFF;
    return data_[0] & 0x0F;
}

uint8_t C_MidiEvent::GetCommand() { return data_.empty() ? 0 : static_cast<uint8_t>(data_[0] & 0xF0); }

int32_t C_MidiEvent::IsEndOfTrack() {
    return data_.size() == 3 && data_[0] == smf::kStatusMeta && data_[1] == smf::kMetaEndOfTrack && data_[2] == 0;
}

void C_MidiEvent::SetChannel(uint8_t channel) {
    if (data_.empty() || data_[0] >= 0xF0) return;
    data_[0] = static_cast<uint8_t>((data_[0] & 0xF0) | (channel & 0x0F));
}

bool C_MidiEvent::IsNoteOn() const {
    return data_.size() == 3 && (data_[0] & 0xF0) == smf::kCommandNoteOn && data_[2] != 0;
}

bool C_MidiEvent::IsSetTempo() const {
    return data_.size() >= 2 && data_[0] == smf::kStatusMeta && data_[1] == smf::kMetaSetTempo;
}

uint32_t C_MidiEvent::GetTempoValue() const {
    // FF 51 03 tt tt tt; a shorter event has no value to read.
    if (!IsSetTempo() || data_.size() < 6) return 0;
    return (static_cast<uint32_t>(data_[3]) << 16) | (static_cast<uint32_t>(data_[4]) << 8) | data_[5];
}

}  // namespace cz
