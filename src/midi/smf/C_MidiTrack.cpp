#include "midi/smf/C_MidiTrack.h"

#include <limits>
#include <new>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/SmfLayout.h"

namespace cz {

namespace {
constexpr uint8_t kEndOfTrack[3] = {smf::kStatusMeta, smf::kMetaEndOfTrack, 0};
constexpr uint32_t kNotFound = 0xFFFFFFFF;

// Whether the writer leaves out this event's status byte; a message that
// does not start with a status byte takes no part in running status.
bool OmitStatus(I_MidiEvent& event, uint8_t& running) {
    const uint8_t status = event.GetStatus();
    if (event.GetDataLength() < 1 || status < 0x80) return false;
    return smf::ApplyRunningStatus(status, running);
}
}  // namespace

int32_t C_MidiTrack::IsEmpty() { return events_.empty() || events_.front()->IsEndOfTrack(); }

int32_t C_MidiTrack::HasEndOfTrack() {
    if (IsEmpty()) return 0;
    return events_.back()->IsEndOfTrack() ? 1 : 0;
}

int32_t C_MidiTrack::SetData(const uint8_t* bytes, uint32_t length) {
    if (!bytes && length) return 0;
    uint8_t running = 0;
    size_t pos = 0;
    while (pos < length) {
        auto event = std::make_unique<C_MidiEvent>();
        uint32_t delta = 0;
        const size_t vlq = smf::ReadVlq(bytes, length, pos, delta);
        if (vlq == 0) return 0;
        event->SetDeltaTime(delta);
        pos += vlq;
        if (pos >= length) return 0;
        const uint8_t first = bytes[pos];
        if (first < 0x80) {
            // Running status: the status of the previous channel message.
            if (events_.empty() || running == 0) return 0;
            const uint32_t size = smf::MessageLength(running, bytes + pos, length - pos);
            if (size == 0) return 0;
            if (!event->SetData(running, bytes + pos, static_cast<int32_t>(size))) return 0;
            pos += size - 1;
        } else {
            const uint32_t size = smf::MessageLength(first, bytes + pos + 1, length - pos - 1);
            if (size == 0) return 0;
            if (!event->SetData(bytes + pos, static_cast<int32_t>(size))) return 0;
            pos += size;
            smf::ApplyRunningStatus(first, running);
        }
        events_.push_back(std::move(event));
    }
    return 1;
}

uint64_t C_MidiTrack::BodySize() {
    uint64_t size = 0;
    uint8_t running = 0;
    for (auto& event : events_) {
        size += event->GetSize();
        if (OmitStatus(*event, running)) size -= 1;
    }
    return size;
}

uint32_t C_MidiTrack::GetDataSize() {
    const uint64_t size = BodySize();
    return size > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(size);
}

int32_t C_MidiTrack::GetData(uint8_t* buffer) {
    if (!buffer) return 0;
    uint8_t running = 0;
    size_t pos = 0;
    for (auto& event : events_) {
        uint32_t written = 0;
        event->Write(buffer + pos, &written, OmitStatus(*event, running) ? 1 : 0);
        pos += written;
    }
    return 1;
}

uint32_t C_MidiTrack::GetEventCount() { return static_cast<uint32_t>(events_.size()); }

I_MidiEvent* C_MidiTrack::NewEvent() { return new (std::nothrow) C_MidiEvent(); }

void C_MidiTrack::DeleteEvent(I_MidiEvent* event) { delete dynamic_cast<C_MidiEvent*>(event); }

int32_t C_MidiTrack::InsertEvent(uint32_t index, I_MidiEvent* event, int32_t keepTimes) {
    if (!event) return 0;
    const size_t at = index < events_.size() ? index : events_.size();
    if (keepTimes && at < events_.size()) {
        I_MidiEvent& next = *events_[at];
        const uint32_t old = next.GetDeltaTime();
        next.SetDeltaTime(old > event->GetDeltaTime() ? old - event->GetDeltaTime() : 0);
    }
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(at), std::unique_ptr<I_MidiEvent>(event));
    return 1;
}

int32_t C_MidiTrack::RemoveEvent(uint32_t index) {
    if (index >= events_.size()) return 0;
    if (index + 1 < events_.size()) {
        I_MidiEvent& next = *events_[index + 1];
        next.SetDeltaTime(next.GetDeltaTime() + events_[index]->GetDeltaTime());
    }
    events_.erase(events_.begin() + index);
    return 1;
}

I_MidiEvent* C_MidiTrack::GetEvent(uint32_t index) { return index < events_.size() ? events_[index].get() : nullptr; }

I_MidiEvent* C_MidiTrack::GetLastEvent() { return events_.empty() ? nullptr : events_.back().get(); }

int32_t C_MidiTrack::RemoveFirstEvent() {
    if (events_.empty()) return 0;
    events_.erase(events_.begin());
    return 1;
}

uint32_t C_MidiTrack::FindEvent(const I_MidiEvent* event) {
    for (size_t i = 0; i < events_.size(); ++i)
        if (events_[i].get() == event) return static_cast<uint32_t>(i);
    return kNotFound;
}

I_MidiEvent* C_MidiTrack::Append(uint32_t delta, const uint8_t* bytes, int32_t length) {
    auto event = std::make_unique<C_MidiEvent>();
    event->SetDeltaTime(delta);
    if (length != 0 && !event->SetData(bytes, length)) return nullptr;
    events_.push_back(std::move(event));
    return events_.back().get();
}

I_MidiEvent* C_MidiTrack::AppendEndOfTrack(uint32_t delta) { return Append(delta, kEndOfTrack, 3); }

}  // namespace cz
