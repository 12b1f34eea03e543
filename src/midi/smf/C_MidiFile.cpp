#include "midi/smf/C_MidiFile.h"

#include <cstring>
#include <filesystem>
#include <limits>

#include "midi/smf/C_MidiEvent.h"
#include "midi/smf/C_MidiTrack.h"
#include "platform/SafeFiles.h"

namespace cz {

namespace {
constexpr uint8_t kEndOfTrack[3] = {smf::kStatusMeta, smf::kMetaEndOfTrack, 0};

std::optional<std::vector<uint8_t>> ReadRest(platform::File& file, uint64_t from) {
    auto size = file.Size();
    if (!size || *size < from || *size - from > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    if (!file.Seek(static_cast<int64_t>(from), platform::SeekOrigin::kBegin)) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(*size - from));
    if (!bytes.empty() && !file.ReadExact(bytes.data(), bytes.size())) return std::nullopt;
    return bytes;
}

bool IsNoteOn(I_MidiEvent* event) {
    auto* midi = dynamic_cast<C_MidiEvent*>(event);
    return midi && midi->IsNoteOn();
}
}  // namespace

C_MidiFile::C_MidiFile(const char* fileName) {
    if (fileName) {
        fileName_ = fileName;
        hasName_ = true;
    }
}

int32_t C_MidiFile::CheckFile() {
    if (!hasName_) return 0;
    auto file = platform::File::Open(fileName_, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return 0;
    uint8_t bytes[smf::kHeaderSize];
    smf::SmfHeader header;
    if (!file->ReadExact(bytes, sizeof bytes) || !smf::ParseSmfHeader(bytes, sizeof bytes, header)) return 0;
    return header.format <= smf::kMaxFormat && header.trackCount != 0;
}

int32_t C_MidiFile::Load() {
    if (!hasName_) return 0;
    auto file = platform::File::Open(fileName_, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return 0;
    auto image = ReadRest(*file, 0);
    if (!image) return 0;
    return LoadImage(image->data(), image->size());
}

std::optional<std::vector<uint8_t>> C_MidiFile::WriteImage() {
    std::vector<uint8_t> out(smf::kHeaderSize);
    smf::BuildSmfHeader(header_, out.data());
    if (!AppendTracks(out)) return std::nullopt;
    return out;
}

bool C_MidiFile::AppendTracks(std::vector<uint8_t>& out) {
    for (auto& track : tracks_) {
        const uint32_t size = track->GetDataSize();
        if (size == std::numeric_limits<uint32_t>::max()) return false;
        const size_t at = out.size();
        out.resize(at + smf::kChunkHeaderSize + size);
        std::memcpy(out.data() + at, "MTrk", 4);
        smf::StoreU32BE(out.data() + at + 4, size);
        if (!track->GetData(out.data() + at + smf::kChunkHeaderSize)) return false;
    }
    return true;
}

int32_t C_MidiFile::Save(const char* path) {
    if (!path || !Normalize()) return 0;
    auto image = WriteImage();
    if (!image) return 0;
    // The whole file is built first and written beside its name, then put in
    // place: a failing write leaves whatever had that name as it was.
    auto output = platform::AtomicOutput::Begin(path);
    if (!output) return 0;
    if (!image->empty() && !output->Out().Write(image->data(), image->size())) return 0;
    return output->Commit() ? 1 : 0;
}

int32_t C_MidiFile::ChangeFormat(uint16_t format) {
    if (format != 0 || header_.format > 1) return 0;
    return MergeTracks();
}

int32_t C_MidiFile::Normalize() {
    for (size_t i = 0; i < tracks_.size();) {
        I_MidiTrack& track = *tracks_[i];
        if (track.IsEmpty()) {
            RemoveTrack(static_cast<uint32_t>(i));
            continue;
        }
        if (!track.GetLastEvent()->IsEndOfTrack()) {
            I_MidiEvent* end = track.NewEvent();
            if (!end || !end->SetData(kEndOfTrack, 3) || !track.InsertEvent(track.GetEventCount(), end, 0)) {
                track.DeleteEvent(end);
                return 0;
            }
        }
        ++i;
    }
    header_.trackCount = static_cast<uint16_t>(tracks_.size());
    if (tracks_.empty()) return 0;
    if (tracks_.size() == 1)
        header_.format = 0;
    else if (header_.format == 0 || header_.format > smf::kMaxFormat)
        header_.format = 1;
    return 1;
}

int32_t C_MidiFile::TrimLeadingSilence() {
    if (header_.format != 0 && !MergeTracks()) return 0;
    for (auto& track : tracks_) {
        if (track->IsEmpty()) continue;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* event = track->GetEvent(i);
            event->SetDeltaTime(0);
            if (IsNoteOn(event)) break;
        }
    }
    return 1;
}

int32_t C_MidiFile::ReadHeader(platform::File& file) {
    uint8_t bytes[smf::kHeaderSize];
    if (!file.Seek(0, platform::SeekOrigin::kBegin) || !file.ReadExact(bytes, sizeof bytes)) return 0;
    return ReadHeaderImage(bytes, sizeof bytes);
}

int32_t C_MidiFile::ReadTracks(platform::File& file) {
    auto rest = ReadRest(file, smf::kHeaderSize);
    if (!rest) return ReadTrackChunks(nullptr, 0);
    return ReadTrackChunks(rest->data(), rest->size());
}

int32_t C_MidiFile::WriteHeader(platform::File& file) {
    uint8_t bytes[smf::kHeaderSize];
    smf::BuildSmfHeader(header_, bytes);
    return file.Write(bytes, sizeof bytes) ? 1 : 0;
}

int32_t C_MidiFile::WriteTracks(platform::File& file) {
    std::vector<uint8_t> out;
    if (!AppendTracks(out)) return 0;
    return out.empty() || file.Write(out.data(), out.size()) ? 1 : 0;
}

int32_t C_MidiFile::MergeTracks() {
    if (header_.format == 0) return 1;
    if (tracks_.empty()) return 0;

    struct Cursor {
        uint32_t next = 0;
        uint64_t time = 0;
        bool done = true;
    };
    std::vector<Cursor> cursors(tracks_.size());
    for (size_t t = 0; t < tracks_.size(); ++t) {
        if (tracks_[t]->GetEventCount() == 0) continue;
        cursors[t].done = false;
        cursors[t].time = tracks_[t]->GetEvent(0)->GetDeltaTime();
    }

    auto merged = std::make_unique<C_MidiTrack>();
    uint64_t lastCopied = 0;
    for (;;) {
        bool any = false;
        uint64_t now = 0;
        for (const Cursor& c : cursors) {
            if (c.done) continue;
            if (!any || c.time < now) now = c.time;
            any = true;
        }
        if (!any) break;
        for (size_t t = 0; t < tracks_.size(); ++t) {
            Cursor& c = cursors[t];
            I_MidiTrack& track = *tracks_[t];
            while (!c.done && c.time == now) {
                I_MidiEvent* event = track.GetEvent(c.next);
                if (event->IsEndOfTrack()) {
                    c.done = true;
                    break;
                }
                if (!merged->Append(static_cast<uint32_t>(now - lastCopied), event->GetData(), event->GetDataLength()))
                    return 0;
                lastCopied = now;
                if (++c.next >= track.GetEventCount()) {
                    c.done = true;
                    break;
                }
                c.time += track.GetEvent(c.next)->GetDeltaTime();
            }
        }
    }
    if (!merged->AppendEndOfTrack(0)) return 0;
    tracks_.clear();
    tracks_.push_back(std::move(merged));
    header_.trackCount = 1;
    header_.format = 0;
    return 1;
}

}  // namespace cz
