// What the chip reads: the frame section of every PCM relative of PC8, read
// by a reader written here from the layouts of docs/pcm-variants.md and
// docs/older-speech-files.md (not from the classes), must give exactly the
// decoded section, and every event must be in the stream where the layout
// puts it. The resource binary is that frame section as it stands, so this
// is also what a chip plays from the binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "formats/ext/C_MclpFile.h"
#include "formats/ext/C_PcmVariants.h"
#include "formats/ext/C_Q420PcmFile.h"
#include "support/LittleEndian.h"
#include "support/TestSupport.h"
#include "wave/C_SilenceSegment.h"
#include "wave/C_WavData.h"

namespace cz {
namespace {

using test::Le16;
using test::Le16At;
using test::Le32;
using test::Le32At;
using test::Put16;

struct Mark {
    uint32_t position;  // in samples from the start of the stream
    uint32_t type, param;
    bool operator==(const Mark&) const = default;
    bool operator<(const Mark& o) const {
        return std::tie(position, type, param) < std::tie(o.position, o.type, o.param);
    }
};

void PrintTo(const Mark& m, std::ostream* os) { *os << "{at " << m.position << " type " << m.type << " param " << m.param << "}"; }

struct ChipRead {
    std::vector<int32_t> samples;
    std::vector<Mark> marks;
    std::string error;  // empty when the stream read cleanly to its end
};

int32_t Signed16(const uint8_t* p) { return static_cast<int16_t>(Le16(p)); }

// The player of each layout, from the documents only.
ChipRead Play(const std::string& code, const std::vector<uint8_t>& s) {
    ChipRead r;
    const size_t n = s.size();
    if (code == "WPC8") {
        for (uint8_t b : s) r.samples.push_back(static_cast<int8_t>(b) * 256);
    } else if (code == "WP16") {
        if (n % 2) r.error = "odd length";
        for (size_t i = 0; i + 2 <= n; i += 2) r.samples.push_back(Signed16(&s[i]));
    } else if (code == "WS16" || code == "WS08") {
        const size_t w = code == "WS16" ? 2 : 1;  // a sample, held for two output periods
        if (n % (2 * w)) r.error = "length not whole samples";
        for (size_t i = 0; i + 2 * w <= n && r.error.empty(); i += 2 * w) {
            const int32_t a = w == 2 ? Signed16(&s[i]) : static_cast<int8_t>(s[i]) * 256;
            const int32_t b = w == 2 ? Signed16(&s[i + 2]) : static_cast<int8_t>(s[i + 1]) * 256;
            if (a != b) r.error = "the two copies differ at byte " + std::to_string(i);
            r.samples.push_back(a);
        }
    } else if (code == "WLP8") {
        size_t i = 0;
        for (; i < n && s[i] != 0x80; ++i) {
            const int32_t c = std::abs(static_cast<int32_t>(static_cast<int8_t>(s[i])));
            const int32_t v = c < 32 ? c : c < 48 ? 2 * c - 32 : c < 96 ? 4 * c - 127 : 8 * c - 509;
            r.samples.push_back(static_cast<int8_t>(s[i]) < 0 ? -v * 64 : v * 64);
        }
        if (!(i + 3 == n && s[i + 1] == 0 && s[i + 2] == 0)) r.error = "no 80 00 00 at the end";
    } else if (code == "WP10") {
        size_t i = 0;
        bool ended = false;
        while (i < n && !ended && r.error.empty()) {
            if (s[i] == 0x80) {
                if (i + 3 > n) r.error = "record cut short";
                else if (s[i + 1] == 0 && s[i + 2] == 0) ended = i + 3 == n;
                else if (s[i + 1] & 0x80)
                    r.marks.push_back({static_cast<uint32_t>(r.samples.size()), s[i + 2] & 127u, s[i + 1] & 63u});
                else
                    r.error = "unknown record";
                i += 3;
                continue;
            }
            if (i + 5 > n) {
                r.error = "group cut short";
                break;
            }
            for (int k = 0; k < 4; ++k) {
                int32_t v = s[i + 1 + k] << 2 | ((s[i] >> (6 - 2 * k)) & 3);
                if (v & 0x200) v -= 0x400;
                r.samples.push_back(v * 64);
            }
            i += 5;
        }
        if (!ended && r.error.empty()) r.error = "no end mark";
    } else if (code == "Q42P") {
        size_t i = 0;
        bool ended = false;
        auto twelve = [](int32_t v) { return (v & 0x800 ? v - 0x1000 : v) * 16; };
        while (i < n && !ended && r.error.empty()) {
            const uint8_t t = s[i];
            if (t == 0x00) {
                ended = i + 1 == n;
                ++i;
            } else if (t == 0x01 && i + 3 <= n) {
                const uint32_t count = Le16(&s[i + 1]);
                i += 3;
                if (i + 3 * ((count + 1) / 2) > n) r.error = "voice cut short";
                for (uint32_t k = 0; k < count && r.error.empty(); k += 2, i += 3) {
                    r.samples.push_back(twelve(s[i] << 4 | s[i + 1] >> 4));
                    if (k + 1 < count) r.samples.push_back(twelve((s[i + 1] & 15) << 8 | s[i + 2]));
                }
            } else if ((t == 0x02 && i + 3 <= n) || (t == 0x03 && i + 5 <= n)) {
                if (t == 0x03) {
                    const uint16_t w = Le16(&s[i + 3]);  // type << 8 | (param & 63) << 2 | param >> 6
                    r.marks.push_back({static_cast<uint32_t>(r.samples.size()), static_cast<uint32_t>(w >> 8), (w >> 2) & 63u});
                }
                r.samples.insert(r.samples.end(), Le16(&s[i + 1]), 0);
                i += t == 0x03 ? 5 : 3;
            } else {
                r.error = "unknown or cut record";
            }
        }
        if (!ended && r.error.empty()) r.error = "no end record";
    } else {
        r.error = "no player for " + code;
    }
    return r;
}

struct File {
    std::vector<uint8_t> bytes;
    std::string code() const { return std::string(bytes.begin(), bytes.begin() + 4); }
    std::vector<uint8_t> frames() const {
        const size_t at = Le32At(bytes, 28) + 14;
        return {bytes.begin() + at, bytes.begin() + at + (Le32At(bytes, 32) - 14)};
    }
    std::vector<int32_t> decoded() const {
        std::vector<int32_t> v(Le32At(bytes, 52));
        for (size_t i = 0; i < v.size(); ++i) v[i] = Le16At(bytes, Le32At(bytes, 48) + 2 * i) - 32768;
        return v;
    }
};

struct Event {
    uint32_t sample, type, param;
};

struct Case {
    const char* name;
    // Alternating voice and silence runs, voice first.
    std::vector<uint32_t> runs;
    std::vector<Event> events;
};

std::unique_ptr<C_WavData> Build(const Case& c, uint32_t* total) {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint32_t, uint32_t>> silences;
    uint32_t at = 0;
    for (size_t k = 0; k < c.runs.size(); ++k) {
        if (k % 2) silences.push_back({at, at + c.runs[k] - 1});
        for (uint32_t i = 0; i < c.runs[k]; ++i, ++at) {
            const double t = at / 8000.0;
            const double v = k % 2 ? 0.0 : 9000 * std::cos(2 * M_PI * 300 * t) + 2500 * std::sin(2 * M_PI * 1170 * t);
            Put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
        }
    }
    auto sound = std::make_unique<C_WavData>();
    sound->SetFormat(8000, static_cast<uint32_t>(bytes.size()), 1, 16, 16, 1);
    sound->SetSampleData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    sound->GetActionEventMgr()->SetSampleRate(8000);
    for (const auto& s : silences) sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(s.first, s.second));
    for (const Event& e : c.events) sound->GetActionEventMgr()->AddEventAtSample(e.type, e.sample, "", e.param);
    *total = at;
    return sound;
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        // 1000 voice, 3001 silent, 999 voice; events on the first voice's
        // last sample, the silence's first sample, inside it, on its last
        // sample, and on the sound's last sample.
        {"voice-silence-voice", {1000, 3001, 999}, {{999, 1, 2}, {1000, 3, 4}, {2001, 5, 70}, {4000, 6, 6}, {4999, 7, 8}}},
        // One voice segment of 2999 samples: events at remainders 0 to 3
        // and on the last sample (its group rounds past the end).
        {"voice-only-2999", {2999}, {{2996, 1, 1}, {2997, 2, 2}, {2998, 3, 3}, {4, 4, 4}, {5, 5, 5}, {6, 6, 6}, {7, 7, 7}}},
        // Segment lengths with every remainder, silence at the end, two events at one sample.
        {"odd-lengths", {1001, 502, 1003, 7}, {{1001, 9, 1}, {1001, 10, 2}, {1502, 11, 3}, {1503, 12, 4}, {2510, 13, 5}}},
        // Silence first.
        {"silence-first", {0, 801, 1202}, {{0, 1, 63}, {400, 2, 64}, {2002, 3, 65}}},
    };
    return cases;
}

bool OnSilenceBeforeItsLast(const Case& c, uint32_t sample) {
    uint32_t at = 0;
    for (size_t k = 0; k < c.runs.size(); at += c.runs[k++])
        if (k % 2 && sample >= at && sample + 1 < at + c.runs[k]) return true;
    return false;
}

// Where P10 puts an event: before the group its sample rounds to (a
// remainder of 2 rounds up), after the last group when it rounds past it.
std::vector<Mark> ExpectedP10Marks(const Case& c, uint32_t total) {
    std::vector<Mark> marks;
    const uint32_t groups = (total + 3) / 4;
    for (const Event& e : c.events) marks.push_back({std::min((e.sample + 2) / 4, groups) * 4, e.type & 127, e.param & 63});
    std::sort(marks.begin(), marks.end());
    return marks;
}

TEST(ChipStream, WhatTheChipReadsIsTheDecodedSection) {
    test::TempDir dir;
    const std::vector<std::pair<const char*, std::unique_ptr<C_Pc8File> (*)()>> classes = {
        {"pc8", [] { return std::unique_ptr<C_Pc8File>(new C_Pc8File); }},
        {"p16", [] { return std::unique_ptr<C_Pc8File>(new C_P16File); }},
        {"s16", [] { return std::unique_ptr<C_Pc8File>(new C_S16File); }},
        {"s08", [] { return std::unique_ptr<C_Pc8File>(new C_S08File); }},
        {"lp8", [] { return std::unique_ptr<C_Pc8File>(new C_Lp8File); }},
        {"p10", [] { return std::unique_ptr<C_Pc8File>(new C_P10File); }},
        {"42p", [] { return std::unique_ptr<C_Pc8File>(new C_Q420PcmFile); }},
    };
    for (const Case& c : Cases()) {
        for (const auto& [ext, make] : classes) {
            SCOPED_TRACE(std::string(c.name) + " ." + ext);
            uint32_t total = 0;
            auto sound = Build(c, &total);
            auto writer = make();
            const std::string path = dir.File(std::string("s.") + ext);
            writer->AttachWavData(sound.get());
            ASSERT_EQ(writer->Save(path.c_str()), 1);
            writer->DetachWavData();
            const File f{test::ReadFileBytes(path)};
            const ChipRead r = Play(f.code(), f.frames());
            EXPECT_EQ(r.error, "");
            const std::vector<int32_t> decoded = f.decoded();
            EXPECT_EQ(r.samples.size(), decoded.size());
            const size_t same = std::mismatch(r.samples.begin(), r.samples.end(), decoded.begin(), decoded.end()).first -
                                r.samples.begin();
            EXPECT_EQ(same, std::max(r.samples.size(), decoded.size())) << "first sample read otherwise: " << same;
            // The decoded section is the whole sound (P10: up to the end of its last group).
            EXPECT_EQ(decoded.size(), f.code() == "WP10" ? (total + 3) / 4 * 4 : total);
            if (f.code() == "WP10") {
                std::vector<Mark> got = r.marks;
                std::sort(got.begin(), got.end());
                EXPECT_EQ(got, ExpectedP10Marks(c, total));
            }
            if (f.code() == "Q42P") {
                // Every event on a silence is a command record at its sample
                // (a second one at the same sample, at the next); the silence's
                // last sample belongs to the voice after it when an event is there.
                for (const Event& e : c.events) {
                    if (!OnSilenceBeforeItsLast(c, e.sample)) continue;
                    const bool found = std::any_of(r.marks.begin(), r.marks.end(), [&](const Mark& m) {
                        return m.type == e.type && m.param == (e.param & 63) && m.position >= e.sample &&
                               m.position < e.sample + 4;
                    });
                    EXPECT_TRUE(found) << "event at " << e.sample;
                }
            }
        }
    }
}

// The MCP line: an event on a silence reaches the stream as a pending record
// with its command word, also when the padding of the voice before it moved
// the silence's start, and when it lies inside the silence.
TEST(ChipStream, EventsOnASilenceReachTheMcpStream) {
    test::TempDir dir;
    // MCP mode 0 codes frames of 240 samples: 500 voice samples take 220 of
    // the silence (500..1499), which then starts at 720.
    const Case c{"mcp", {500, 1000, 480}, {{500, 5, 9}, {1200, 6, 10}, {1201, 7, 11}}};
    uint32_t total = 0;
    auto sound = Build(c, &total);
    sound->GetWriteParam()->SetCodecParam(0);
    const std::string path = dir.File("m.mcp");
    C_MclpFile writer;
    writer.AttachWavData(sound.get());
    ASSERT_EQ(writer.Save(path.c_str()), 1);
    writer.DetachWavData();
    const File f{test::ReadFileBytes(path)};
    const std::vector<uint8_t> s = f.frames();
    // Silence words (run << 4) | 1, pending records 13 nn hi lo, voice blocks
    // 02 00 + u32 size, end FF FF.
    std::vector<std::pair<uint32_t, uint32_t>> records;  // type, param & 63
    size_t i = 0;
    bool ended = false;
    while (i + 2 <= s.size() && !ended) {
        if (s[i] == 0x13 && i + 4 <= s.size()) {
            records.push_back({s[i + 2], s[i + 3] & 63u});
            i += 4;
        } else if (Le16(&s[i]) == 0xFFFF) {
            ended = true;
            i += 2;
        } else if (Le16(&s[i]) == 0x0002 && i + 6 <= s.size()) {
            i += 6 + Le32(&s[i + 2]);
        } else if ((s[i] & 15) == 1) {
            i += 2;
        } else {
            break;
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(i, s.size());
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{5, 9}, {6, 10}, {7, 11}};
    EXPECT_EQ(records, want);
}

}  // namespace
}  // namespace cz
