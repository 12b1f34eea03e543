#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/ext/C_Q420PcmFile.h"
#include "formats/mpm/MpmLayout.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/InputStream.h"
#include "foundation/RefPtr.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"
#include "wave/C_SilenceSegment.h"

namespace cz {
namespace {

// The frame section read back by the record layout: the 16-bit values it
// plays (offset-binary) and the command words it carries.
struct Played {
    std::vector<uint16_t> values;
    std::vector<uint16_t> commands;
    size_t voiceRecords = 0;
    bool ended = false;
};

Played ReadFrames(const std::vector<uint8_t>& file) {
    Played p;
    size_t pos = test::Le32At(file, 28) + 14;
    const size_t end = test::Le32At(file, 28) + test::Le32At(file, 32);
    auto twelve = [](uint32_t v) { return static_cast<int32_t>(v & 0x800 ? v - 0x1000 : v); };
    auto put = [&](int32_t v) { p.values.push_back(static_cast<uint16_t>(v * 16 + 32768)); };
    while (pos < end) {
        const uint8_t type = file[pos++];
        if (type == 0) {
            p.ended = pos == end;
            break;
        }
        const uint32_t n = test::Le16At(file, pos);
        pos += 2;
        if (type == 1) {
            ++p.voiceRecords;
            for (uint32_t i = 0; i < n; i += 2, pos += 3) {
                put(twelve(file[pos] << 4 | file[pos + 1] >> 4));
                if (i + 1 < n) put(twelve((file[pos + 1] & 15) << 8 | file[pos + 2]));
            }
        } else {
            if (type == 3) {
                p.commands.push_back(test::Le16At(file, pos));
                pos += 2;
            }
            p.values.insert(p.values.end(), n, 32768);
        }
    }
    return p;
}

std::vector<uint16_t> Section(const std::vector<uint8_t>& file, size_t offsetField, size_t countField) {
    std::vector<uint16_t> w(test::Le32At(file, countField));
    for (size_t i = 0; i < w.size(); ++i) w[i] = test::Le16At(file, test::Le32At(file, offsetField) + 2 * i);
    return w;
}

// Voice packed two samples in three bytes (an odd record repeating its last
// sample), silence with the command of the event that starts it, the end
// record; the decoded section is what the records play, and the file opens
// through the factory as its own class.
TEST(Q420PcmFile, RecordsPlayTheDecodedSection) {
    test::TempDir dir;
    std::vector<int16_t> pcm = test::Tone(301, 8000, 440, 20000);
    pcm[0] = 32767;   // rounds to 2048: kept at 2047
    pcm[1] = -32768;  // -2048
    pcm[2] = -9;      // (-9 + 8) >> 4 = -1
    auto sound = test::Sound16(pcm, 1, 8000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(100, 149));
    sound->GetActionEventMgr()->SetSampleRate(8000);
    sound->GetActionEventMgr()->AddEventAtSample(5, 100, "", 33);
    const std::string path = dir.File("a.42p");
    ASSERT_EQ(sound->SaveAs(kFormatQ420Pcm, path.c_str()), 1);
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "Q42P");
    EXPECT_EQ(file[10], 12);

    const Played played = ReadFrames(file);
    EXPECT_TRUE(played.ended);
    EXPECT_EQ(played.voiceRecords, 2u);  // 100 and 151 samples
    EXPECT_EQ(played.commands, std::vector<uint16_t>{MpmCommandWord(5, 33)});
    const std::vector<uint16_t> decoded = Section(file, 48, 52);
    EXPECT_EQ(played.values, decoded);
    ASSERT_EQ(decoded.size(), pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        const bool silent = i >= 100 && i <= 149;
        EXPECT_EQ(decoded[i], silent ? 32768 : Q420PcmValue(pcm[i]) * 16 + 32768) << i;
    }
    EXPECT_EQ(Q420PcmValue(32767), 2047);
    EXPECT_EQ(Q420PcmValue(-32768), -2048);
    EXPECT_EQ(Q420PcmValue(-9), -1);

    C_WavFileFormat factory;
    RefPtr<C_WavFile> opened = factory.Open(path.c_str());
    ASSERT_TRUE(opened);
    EXPECT_STREQ(factory.LastClassName(), "C_Q420PcmFile");
    EXPECT_EQ(opened->GetFormatId(), 44u);
    EXPECT_EQ(factory.GetFileFormat(path.c_str()), 44u);
    ASSERT_EQ(opened->LoadPlayedSound(), 1);
    std::vector<uint16_t> loaded(opened->GetWavInfo()->GetDataSize() / 2);
    for (size_t i = 0; i < loaded.size(); ++i) loaded[i] = test::Le16(opened->GetSampleBuffer() + 2 * i);
    EXPECT_EQ(loaded, decoded);
}

// A voice segment longer than one record takes several, each but the last
// of an even length; a long silence several silence records.
TEST(Q420PcmFile, LongSegmentsSplitIntoRecords) {
    test::TempDir dir;
    const uint32_t n = 2 * 65534 + 7;
    auto sound = test::Sound16(test::Noise(n + 70000, 3, 12000), 1, 16000);
    sound->SilenceSegments().Add(std::make_unique<C_SilenceSegment>(n, n + 70000 - 1));
    const std::string path = dir.File("b.42p");
    ASSERT_EQ(sound->SaveAs(kFormatQ420Pcm, path.c_str()), 1);
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    const Played played = ReadFrames(file);
    EXPECT_TRUE(played.ended);
    EXPECT_EQ(played.voiceRecords, 3u);
    EXPECT_EQ(played.values, Section(file, 48, 52));
    EXPECT_EQ(played.values.size(), n + 70000u);
    // The records: 65534 (3 + 98301 bytes), 65534, 7 (3 + 12), silence 65535
    // and 4465 (3 bytes each), end.
    EXPECT_EQ(test::Le32At(file, 32), 14u + 2 * (3 + 98301) + 3 + 12 + 3 + 3 + 1);
}

// Every cut of a saved file, and counts of nothing, of everything and of one
// word past the end, are refused.
TEST(Q420PcmFile, TruncatedFilesAreRefused) {
    test::TempDir dir;
    auto sound = test::Sound16(test::Tone(60, 8000, 300, 9000), 1, 8000);
    const std::string path = dir.File("t.42p");
    ASSERT_EQ(sound->SaveAs(kFormatQ420Pcm, path.c_str()), 1);
    const std::vector<uint8_t> whole = test::ReadFileBytes(path);
    for (size_t n = 0; n < whole.size(); ++n) {
        C_Q420PcmFile file;
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
        EXPECT_EQ(file.LoadFromStream(InputStream::FromMemory(cut), 0), 0) << "cut at " << n;
    }
    const uint32_t sourceWords = (static_cast<uint32_t>(whole.size()) - test::Le32At(whole, 38)) / 2;
    const struct {
        size_t at;
        uint32_t value;
        bool accepted;
    } cases[] = {
        {42, 0xFFFFFFFF, false},
        {42, sourceWords + 1, false},
        {42, 0, true},  // source count
        {52, 0xFFFFFFFF, false},
        {32, 0xFFFFFFFF, false},
        {32, 0, false},                                     // decoded count, frame size
        {test::Le32At(whole, 20) + 10, 0xFFFFFFFF, false},  // "MCMD" entries
        {test::Le32At(whole, 16) + 12, 1, false},           // "WSIL" entries just past the end
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = whole;
        test::Put32At(bytes, c.at, c.value);
        C_Q420PcmFile file;
        EXPECT_EQ(file.LoadFromStream(InputStream::FromMemory(bytes), 0), c.accepted ? 1 : 0)
            << "field at " << c.at << " = " << c.value;
    }
}

}  // namespace
}  // namespace cz
