#include "midi/imf/ImfFormat.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <queue>

#include "midi/smf/C_MidiData.h"
#include "midi/smf/I_MidiEvent.h"
#include "midi/smf/I_MidiTrack.h"

namespace cz::imf {

namespace {

constexpr uint8_t kMagic[4] = {'I', 'M', 'F', '1'};

void PutVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0 && n < 4);
    while (n > 1) out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

void PutU16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

uint32_t GetU32(std::span<const uint8_t> bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t(bytes[at + 3]) << 24);
}

// A bounded reader over the stream: every read checks what is left.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool AtEnd() const { return pos_ == bytes_.size(); }
    size_t Left() const { return bytes_.size() - pos_; }
    bool Byte(uint8_t& value) {
        if (pos_ >= bytes_.size()) return false;
        value = bytes_[pos_++];
        return true;
    }
    // At most four bytes, the last below 0x80.
    bool Vlq(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!Byte(b)) return false;
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    }
    bool Bytes(size_t count, std::vector<uint8_t>& out) {
        if (count > Left()) return false;
        out.assign(bytes_.begin() + pos_, bytes_.begin() + pos_ + count);
        pos_ += count;
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

// One MIDI event at its absolute tick, in merged order.
struct TimedEvent {
    uint64_t tick;
    const uint8_t* data;
    int32_t length;
};

// The meta type and body of a meta event, when its length fits the event.
bool MetaBody(const TimedEvent& e, uint8_t& type, std::span<const uint8_t>& body) {
    if (e.length < 3 || e.data[0] != 0xFF) return false;
    type = e.data[1];
    Cursor cursor(std::span<const uint8_t>(e.data + 2, size_t(e.length - 2)));
    uint32_t length = 0;
    if (!cursor.Vlq(length) || length > cursor.Left()) return false;
    const size_t start = size_t(e.length) - cursor.Left();
    body = std::span<const uint8_t>(e.data + start, length);
    return true;
}

// The events of every track at their absolute ticks, merged in time order
// with ties going to the lower track.
std::vector<TimedEvent> MergedEvents(C_MidiData& song) {
    std::vector<TimedEvent> events;
    std::vector<std::pair<uint64_t, size_t>> order;
    for (uint32_t t = 0; t < song.GetTrackCount(); ++t) {
        I_MidiTrack* track = song.GetTrack(t);
        if (!track) continue;
        uint64_t tick = 0;
        for (uint32_t i = 0; i < track->GetEventCount(); ++i) {
            I_MidiEvent* event = track->GetEvent(i);
            tick += event->GetDeltaTime();
            events.push_back({tick, event->GetData(), event->GetDataLength()});
        }
    }
    // stable_sort by tick keeps track order (tracks were appended in order)
    // and event order within a track.
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.tick < b.tick; });
    return events;
}

void AppendLyric(std::vector<uint8_t>& lyrics, uint32_t& lastTick, uint32_t tick, std::span<const uint8_t> text) {
    PutVlq(lyrics, tick - lastTick);
    PutVlq(lyrics, static_cast<uint32_t>(text.size()));
    lyrics.insert(lyrics.end(), text.begin(), text.end());
    lastTick = tick;
}

void WriteRecord(std::vector<uint8_t>& out, uint32_t& lastTick, const ImfRecord& r) {
    PutVlq(out, r.tick - lastTick);
    lastTick = r.tick;
    switch (r.kind) {
        case kKindNote:
            out.push_back(static_cast<uint8_t>(kKindNote | r.channel));
            out.push_back(r.data1);
            out.push_back(r.data2);
            PutVlq(out, r.value);
            break;
        case kKindControl:
            out.push_back(static_cast<uint8_t>(kKindControl | r.channel));
            out.push_back(r.data1);
            out.push_back(r.data2);
            break;
        case kKindProgram:
            out.push_back(static_cast<uint8_t>(kKindProgram | r.channel));
            out.push_back(r.data1);
            break;
        case kKindBend:
            out.push_back(static_cast<uint8_t>(kKindBend | r.channel));
            PutU16(out, r.value);
            break;
        case kKindTempo:
            out.push_back(kKindTempo);
            out.push_back(static_cast<uint8_t>(r.value >> 16));
            out.push_back(static_cast<uint8_t>(r.value >> 8));
            out.push_back(static_cast<uint8_t>(r.value));
            break;
        case kKindText:
            out.push_back(kKindText);
            out.push_back(r.data1);
            PutVlq(out, static_cast<uint32_t>(r.text.size()));
            out.insert(out.end(), r.text.begin(), r.text.end());
            break;
        default:
            out.push_back(kKindEnd);
            break;
    }
}

}  // namespace

bool IsKeptController(uint8_t controller) {
    switch (controller) {
        case 0: case 1: case 6: case 7: case 10: case 11: case 32: case 38:
        case 64: case 100: case 101: case 120: case 121: case 123:
            return true;
        default:
            return false;
    }
}

bool BuildImf(C_MidiData& song, uint8_t voiceLimit, ImfBuildResult& result, std::string& error) {
    result = ImfBuildResult();
    const uint16_t division = song.GetDivision();
    if (division & 0x8000) {
        error = "the song counts SMPTE time, which the chip does not play";
        return false;
    }
    if (division == 0) {
        error = "the song's division is 0";
        return false;
    }
    if (song.GetTrackCount() == 0) {
        error = "the song has no track";
        return false;
    }
    const std::vector<TimedEvent> events = MergedEvents(song);
    const uint64_t end = events.empty() ? 0 : events.back().tick;
    if (end > kMaxTicks) {
        error = "the song is longer than 268435455 ticks";
        return false;
    }

    std::vector<ImfRecord> records;
    std::vector<bool> dropped;
    // Sounding notes per channel and key, first in first out.
    std::map<uint16_t, std::deque<size_t>> sounding;
    uint32_t lastLyric = 0;
    bool text = false;
    for (const TimedEvent& e : events) {
        const uint32_t tick = static_cast<uint32_t>(e.tick);
        if (e.length < 1) continue;
        const uint8_t status = e.data[0];
        if (status == 0xFF) {
            uint8_t type = 0;
            std::span<const uint8_t> body;
            if (!MetaBody(e, type, body)) continue;
            if (type == 0x51 && body.size() == 3) {
                const uint32_t tempo = (uint32_t(body[0]) << 16) | (body[1] << 8) | body[2];
                if (tempo == 0) continue;
                ImfRecord r;
                r.tick = tick;
                r.kind = kKindTempo;
                r.value = tempo;
                records.push_back(std::move(r));
            } else if (type == kTextPlain || type == kTextLyric || type == kTextMarker) {
                ImfRecord r;
                r.tick = tick;
                r.kind = kKindText;
                r.data1 = type;
                r.text.assign(body.begin(), body.end());
                records.push_back(std::move(r));
                text = true;
                if (type == kTextLyric) AppendLyric(result.lyrics, lastLyric, tick, body);
            }
            continue;
        }
        if (status < 0x80 || status >= 0xF0) continue;  // system-exclusive and system messages
        const uint8_t command = status & 0xF0;
        const uint8_t channel = status & 0x0F;
        const uint8_t d1 = e.length > 1 ? e.data[1] & 0x7F : 0;
        const uint8_t d2 = e.length > 2 ? e.data[2] & 0x7F : 0;
        const bool complete = e.length >= ((command == 0xC0 || command == 0xD0) ? 2 : 3);
        if (!complete) continue;
        const uint16_t slot = static_cast<uint16_t>((channel << 7) | d1);
        if (command == 0x90 && d2 != 0) {
            ImfRecord r;
            r.tick = tick;
            r.kind = kKindNote;
            r.channel = channel;
            r.data1 = d1;
            r.data2 = d2;
            r.value = static_cast<uint32_t>(end - e.tick);  // until the end unless ended
            sounding[slot].push_back(records.size());
            records.push_back(std::move(r));
        } else if (command == 0x80 || command == 0x90) {
            auto it = sounding.find(slot);
            if (it == sounding.end() || it->second.empty()) continue;
            ImfRecord& note = records[it->second.front()];
            it->second.pop_front();
            note.value = tick - note.tick;
        } else if (command == 0xB0) {
            if (!IsKeptController(d1)) continue;
            ImfRecord r;
            r.tick = tick;
            r.kind = kKindControl;
            r.channel = channel;
            r.data1 = d1;
            r.data2 = d2;
            records.push_back(std::move(r));
        } else if (command == 0xC0) {
            ImfRecord r;
            r.tick = tick;
            r.kind = kKindProgram;
            r.channel = channel;
            r.data1 = d1;
            records.push_back(std::move(r));
        } else if (command == 0xE0) {
            ImfRecord r;
            r.tick = tick;
            r.kind = kKindBend;
            r.channel = channel;
            r.value = static_cast<uint32_t>(d1 | (d2 << 7));
            records.push_back(std::move(r));
        }
    }

    // The voice limit: in stream order, a note starting while the limit's
    // count of kept notes still sounds is dropped. A note ending on a tick no
    // longer sounds at that tick.
    dropped.assign(records.size(), false);
    if (voiceLimit != 0) {
        std::priority_queue<uint32_t, std::vector<uint32_t>, std::greater<uint32_t>> ends;
        for (size_t i = 0; i < records.size(); ++i) {
            const ImfRecord& r = records[i];
            if (r.kind != kKindNote) continue;
            while (!ends.empty() && ends.top() <= r.tick) ends.pop();
            if (ends.size() >= voiceLimit) {
                dropped[i] = true;
                ++result.dropped;
                continue;
            }
            // A note of no length holds its voice for no time at all.
            ends.push(r.tick + r.value);
        }
    }

    uint16_t mask = 0;
    std::vector<uint8_t> stream;
    uint32_t last = 0;
    const bool tempoAtStart = std::any_of(records.begin(), records.end(),
                                          [](const ImfRecord& r) { return r.kind == kKindTempo && r.tick == 0; });
    if (!tempoAtStart) {
        ImfRecord r;
        r.kind = kKindTempo;
        r.value = kDefaultTempo;
        WriteRecord(stream, last, r);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (dropped[i]) continue;
        const ImfRecord& r = records[i];
        if (r.kind == kKindNote || r.kind == kKindControl || r.kind == kKindProgram || r.kind == kKindBend)
            mask = static_cast<uint16_t>(mask | (1u << r.channel));
        if (r.kind == kKindNote) ++result.notes;
        WriteRecord(stream, last, r);
    }
    ImfRecord endRecord;
    endRecord.tick = static_cast<uint32_t>(end);
    endRecord.kind = kKindEnd;
    WriteRecord(stream, last, endRecord);

    std::vector<uint8_t>& out = result.imf;
    out.assign(std::begin(kMagic), std::end(kMagic));
    PutU16(out, division);
    PutU16(out, mask);
    out.push_back(voiceLimit);
    out.push_back(static_cast<uint8_t>((text ? kFlagText : 0) | (result.dropped ? kFlagNotesDropped : 0)));
    PutU16(out, 0);
    PutU32(out, static_cast<uint32_t>(stream.size()));
    out.insert(out.end(), stream.begin(), stream.end());
    return true;
}

std::optional<size_t> ImfImageLength(std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, 4) != 0) return std::nullopt;
    const uint32_t stream = GetU32(bytes, 12);
    if (stream > bytes.size() - kHeaderSize) return std::nullopt;
    return size_t(kHeaderSize) + stream;
}

bool ParseImf(std::span<const uint8_t> image, ImfSong& song, std::string& error) {
    song = ImfSong();
    if (image.size() < kHeaderSize) {
        error = "shorter than the 16-byte IMF header";
        return false;
    }
    if (std::memcmp(image.data(), kMagic, 4) != 0) {
        error = "no IMF1 header";
        return false;
    }
    song.division = static_cast<uint16_t>(image[4] | (image[5] << 8));
    song.channelMask = static_cast<uint16_t>(image[6] | (image[7] << 8));
    song.voiceLimit = image[8];
    song.flags = image[9];
    if (song.division == 0 || (song.division & 0x8000)) {
        error = "division " + std::to_string(song.division) + " is not a tick count";
        return false;
    }
    if ((song.flags & ~(kFlagText | kFlagNotesDropped)) != 0 || image[10] != 0 || image[11] != 0) {
        error = "reserved header bits are set";
        return false;
    }
    const uint32_t streamLength = GetU32(image, 12);
    if (streamLength != image.size() - kHeaderSize) {
        error = "the stream length " + std::to_string(streamLength) + " does not match the " +
                std::to_string(image.size() - kHeaderSize) + " bytes after the header";
        return false;
    }
    Cursor in(image.subspan(kHeaderSize));
    uint64_t tick = 0;
    for (;;) {
        ImfRecord r;
        uint32_t delta = 0;
        uint8_t kind = 0;
        if (!in.Vlq(delta) || !in.Byte(kind)) {
            error = "the stream ends without its end record";
            return false;
        }
        tick += delta;
        if (tick > kMaxTicks) {
            error = "a record lies past the longest song";
            return false;
        }
        r.tick = static_cast<uint32_t>(tick);
        const uint8_t high = kind & 0xF0;
        bool ok = true;
        if (high == kKindNote || high == kKindControl || high == kKindProgram || high == kKindBend) {
            r.kind = high;
            r.channel = kind & 0x0F;
            if (high == kKindNote) {
                ok = in.Byte(r.data1) && in.Byte(r.data2) && in.Vlq(r.value) && r.data1 < 0x80 && r.data2 != 0 &&
                     r.data2 < 0x80;
                ok = ok && tick + r.value <= kMaxTicks;
            } else if (high == kKindControl) {
                ok = in.Byte(r.data1) && in.Byte(r.data2) && r.data1 < 0x80 && r.data2 < 0x80;
            } else if (high == kKindProgram) {
                ok = in.Byte(r.data1) && r.data1 < 0x80;
            } else {
                uint8_t lo = 0, hi = 0;
                ok = in.Byte(lo) && in.Byte(hi);
                r.value = static_cast<uint32_t>(lo | (hi << 8));
                ok = ok && r.value <= 0x3FFF;
            }
        } else if (kind == kKindTempo) {
            r.kind = kKindTempo;
            uint8_t b[3] = {};
            ok = in.Byte(b[0]) && in.Byte(b[1]) && in.Byte(b[2]);
            r.value = (uint32_t(b[0]) << 16) | (b[1] << 8) | b[2];
            ok = ok && r.value != 0;
        } else if (kind == kKindText) {
            r.kind = kKindText;
            uint32_t length = 0;
            ok = in.Byte(r.data1) && (r.data1 == kTextPlain || r.data1 == kTextLyric || r.data1 == kTextMarker) &&
                 in.Vlq(length) && in.Bytes(length, r.text);
        } else if (kind == kKindEnd) {
            r.kind = kKindEnd;
            song.length = r.tick;
            song.records.push_back(std::move(r));
            for (const ImfRecord& note : song.records)
                if (note.kind == kKindNote && uint64_t(note.tick) + note.value > song.length) {
                    error = "a note sounds past the end of the song";
                    return false;
                }
            if (!in.AtEnd()) {
                error = "bytes follow the end record";
                return false;
            }
            return true;
        } else {
            error = "unknown record kind " + std::to_string(kind);
            return false;
        }
        if (!ok) {
            error = "a record at tick " + std::to_string(tick) + " is cut short or holds a value out of range";
            return false;
        }
        song.records.push_back(std::move(r));
    }
}

namespace {

struct SmfItem {
    uint32_t tick;
    uint32_t phase;  // 0: a note-off of an earlier note; 1: everything else
    uint64_t order;
    std::vector<uint8_t> bytes;
};

void PutMeta(std::vector<uint8_t>& out, uint8_t type, std::span<const uint8_t> body) {
    out = {0xFF, type};
    PutVlq(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

std::vector<uint8_t> ImfToSmf(const ImfSong& song) {
    std::vector<SmfItem> items;
    items.reserve(song.records.size() * 2);
    uint64_t order = 0;
    for (const ImfRecord& r : song.records) {
        SmfItem item{r.tick, 1, order * 2, {}};
        switch (r.kind) {
            case kKindNote: {
                item.bytes = {static_cast<uint8_t>(0x90 | r.channel), r.data1, r.data2};
                SmfItem off{r.tick + r.value, r.value == 0 ? 1u : 0u, order * 2 + 1,
                            {static_cast<uint8_t>(0x80 | r.channel), r.data1, 0x40}};
                items.push_back(std::move(off));
                break;
            }
            case kKindControl:
                item.bytes = {static_cast<uint8_t>(0xB0 | r.channel), r.data1, r.data2};
                break;
            case kKindProgram:
                item.bytes = {static_cast<uint8_t>(0xC0 | r.channel), r.data1};
                break;
            case kKindBend:
                item.bytes = {static_cast<uint8_t>(0xE0 | r.channel), static_cast<uint8_t>(r.value & 0x7F),
                              static_cast<uint8_t>((r.value >> 7) & 0x7F)};
                break;
            case kKindTempo: {
                const uint8_t body[3] = {static_cast<uint8_t>(r.value >> 16), static_cast<uint8_t>(r.value >> 8),
                                         static_cast<uint8_t>(r.value)};
                PutMeta(item.bytes, 0x51, body);
                break;
            }
            case kKindText:
                PutMeta(item.bytes, r.data1, r.text);
                break;
            default:
                item.bytes = {0xFF, 0x2F, 0x00};
                item.phase = 2;  // after every note-off of the last tick
                break;
        }
        items.push_back(std::move(item));
        ++order;
    }
    std::stable_sort(items.begin(), items.end(), [](const SmfItem& a, const SmfItem& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.phase != b.phase) return a.phase < b.phase;
        return a.order < b.order;
    });
    std::vector<uint8_t> track;
    uint32_t last = 0;
    for (const SmfItem& item : items) {
        PutVlq(track, item.tick - last);
        last = item.tick;
        track.insert(track.end(), item.bytes.begin(), item.bytes.end());
    }
    std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    smf.push_back(static_cast<uint8_t>(song.division >> 8));
    smf.push_back(static_cast<uint8_t>(song.division));
    const uint8_t chunk[4] = {'M', 'T', 'r', 'k'};
    smf.insert(smf.end(), chunk, chunk + 4);
    const uint32_t size = static_cast<uint32_t>(track.size());
    for (int shift = 24; shift >= 0; shift -= 8) smf.push_back(static_cast<uint8_t>(size >> shift));
    smf.insert(smf.end(), track.begin(), track.end());
    return smf;
}

bool ParseLyrics(std::span<const uint8_t> lyrics, std::vector<ImfRecord>& out, std::string& error) {
    out.clear();
    Cursor in(lyrics);
    uint64_t tick = 0;
    while (!in.AtEnd()) {
        ImfRecord r;
        uint32_t delta = 0, length = 0;
        if (!in.Vlq(delta) || !in.Vlq(length) || !in.Bytes(length, r.text)) {
            error = "a lyric entry is cut short";
            return false;
        }
        tick += delta;
        if (tick > kMaxTicks) {
            error = "a lyric lies past the longest song";
            return false;
        }
        r.tick = static_cast<uint32_t>(tick);
        r.kind = kKindText;
        r.data1 = kTextLyric;
        out.push_back(std::move(r));
    }
    return true;
}

bool MelodyResourceParts(std::span<const uint8_t> resource, std::span<const uint8_t>& imf,
                         std::span<const uint8_t>& lyrics, std::string& error) {
    lyrics = {};
    if (resource.size() >= 4 && std::memcmp(resource.data(), "WKLB", 4) == 0) {
        if (resource.size() < 16) {
            error = "the WKLB header is cut short";
            return false;
        }
        const uint32_t imfAt = GetU32(resource, 6);
        const uint32_t lyricAt = GetU32(resource, 11);
        if (imfAt < 16 || imfAt > lyricAt || lyricAt > resource.size()) {
            error = "the WKLB offsets lie outside the resource";
            return false;
        }
        imf = resource.subspan(imfAt, lyricAt - imfAt);
        lyrics = resource.subspan(lyricAt);
        return true;
    }
    if (resource.size() >= 4 && std::memcmp(resource.data(), "WIBN", 4) == 0) {
        if (resource.size() < 5) {
            error = "the WIBN header is cut short";
            return false;
        }
        const size_t at = 5 + size_t(resource[4]) * 4;
        const auto length = at <= resource.size() ? ImfImageLength(resource.subspan(at)) : std::nullopt;
        if (!length) {
            error = "the WIBN bundle holds no whole IMF after its sample table";
            return false;
        }
        imf = resource.subspan(at, *length);
        return true;
    }
    const auto length = ImfImageLength(resource);
    if (!length || *length != resource.size()) {
        error = "not an IMF melody";
        return false;
    }
    imf = resource;
    return true;
}

}  // namespace cz::imf
