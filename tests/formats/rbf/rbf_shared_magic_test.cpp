// Chip files and chip resources that share a four-character magic ("WADM":
// WAM files, "WE2A": E2A files, "Q42M": Q420 MPM files, "WMdM": MDM files
// that carry the resource code). Damaged, each is refused by the factory with
// the reason of its own class, never decoded by the other; the resource
// converter's binaries of every coding open, and cut short are refused as
// resources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/apm/C_E2aFile.h"
#include "formats/apm/C_NewApmFile.h"
#include "formats/legacy/C_WamFile.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mdm/C_Q420MpmFile.h"
#include "formats/rbf/RbfFile.h"
#include "formats/registry/C_WavFileFormat.h"
#include "foundation/ByteReader.h"
#include "siblings/ombry/ResourceDecoder.h"
#include "support/Signals.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace cz {
namespace {

struct ChipFile {
    const char* name;     // file name, its extension names nothing the factory uses
    const char* ownName;  // how the factory names the class that knows it
    std::vector<uint8_t> bytes;
};

// A voice with a silence and two events, saved by writer.
std::vector<uint8_t> Saved(C_WavFile& writer, uint16_t bits, const test::TempDir& dir) {
    std::vector<uint16_t> words = test::SwellingVoice12(3000);
    words.insert(words.end(), 800, 2048);
    const std::vector<uint16_t> more = test::SwellingVoice12(1200, 900.0, 1.0);
    words.insert(words.end(), more.begin(), more.end());
    if (bits == 16)
        for (uint16_t& w : words) w = static_cast<uint16_t>(w << 4);
    auto sound = test::SoundOfWords(words, 8000, bits, 0);
    sound->GetActionEventMgr()->AddEventAtSample(1, 100, "", 5);
    sound->GetActionEventMgr()->AddEventAtSample(2, 4200, "", 9);
    const std::string path = dir.File("chip.bin");
    EXPECT_EQ(test::SaveWith(writer, *sound, path), 1);
    return test::ReadFileBytes(path);
}

std::vector<ChipFile> ChipFiles(const test::TempDir& dir) {
    std::vector<ChipFile> files;
    C_E2aFile e2a;
    files.push_back({"e2a", "AD4 file: ", Saved(e2a, 16, dir)});
    C_WamFile wam;
    files.push_back({"wam", "WAM file: ", Saved(wam, 12, dir)});
    C_Q420MpmFile q420;
    files.push_back({"q420", "42M file: ", Saved(q420, 12, dir)});
    // An MDM file may carry the resource code in place of its own.
    C_MdmFile mdm;
    std::vector<uint8_t> wmdm = Saved(mdm, 12, dir);
    std::memcpy(wmdm.data(), "WMdM", 4);
    files.push_back({"mdm", "MDM file: ", wmdm});
    return files;
}

// Every length from 20 to 120 bytes, then about 40 more up to one byte short.
std::vector<size_t> Truncations(size_t size) {
    std::vector<size_t> lengths;
    for (size_t n = 20; n < 120 && n < size; ++n) lengths.push_back(n);
    for (size_t n = 120; n < size; n += size / 40 + 1) lengths.push_back(n);
    lengths.push_back(size - 1);
    return lengths;
}

std::string Refusal(C_WavFileFormat& factory, const std::string& path, uint32_t mode) {
    RefPtr<C_WavFile> file = factory.Open(path.c_str(), mode);
    if (file) return std::string("opened by ") + factory.LastClassName();
    return factory.LastFailure();
}

TEST(RbfSharedMagic, DamagedChipFilesKeepTheReasonOfTheirOwnClass) {
    test::TempDir dir;
    C_WavFileFormat factory;
    const std::string path = dir.File("damaged");
    for (const ChipFile& chip : ChipFiles(dir)) {
        SCOPED_TRACE(chip.name);
        ASSERT_GT(chip.bytes.size(), 1000u);
        ASSERT_TRUE(test::WriteFileBytes(path, chip.bytes));
        ASSERT_TRUE(factory.Open(path.c_str()));  // whole: its own class opens it
        EXPECT_STRNE(factory.LastClassName(), "C_RBFFile");
        for (size_t n : Truncations(chip.bytes.size())) {
            ASSERT_TRUE(test::WriteFileBytes(path, std::vector<uint8_t>(chip.bytes.begin(), chip.bytes.begin() + n)));
            for (uint32_t mode : {kOpenHeaderOnly, kOpenWithSamples}) {
                const std::string why = Refusal(factory, path, mode);
                EXPECT_EQ(why.rfind(chip.ownName, 0), 0u) << n << " bytes, mode " << mode << ": " << why;
            }
        }
    }
}

// The faults the audit found in whole files: each refused by its class, and
// not taken by the resource reader.
TEST(RbfSharedMagic, WholeFilesTheirClassRefusesAreNotResources) {
    test::TempDir dir;
    const std::vector<ChipFile> chips = ChipFiles(dir);
    const std::vector<uint8_t>& e2a = chips[0].bytes;
    const std::vector<uint8_t>& wam = chips[1].bytes;
    auto patched = [](std::vector<uint8_t> bytes, size_t at, uint32_t value, int width) {
        if (width == 4)
            test::Put32At(bytes, at, value);
        else
            test::Put16At(bytes, at, static_cast<uint16_t>(value));
        return bytes;
    };
    std::vector<uint8_t> longer = wam;
    longer.push_back(0);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"WAM, odd code count", patched(wam, 18, LoadU32(&wam[18]) - 1, 4), "WAM file: invalid format record"},
        {"WAM, 500 Hz", patched(wam, 14, 500, 2), "WAM file: invalid format record"},
        {"WAM, a byte more", longer, "WAM file: invalid format record"},
        {"WAM, code count past the end", patched(wam, 18, LoadU32(&wam[18]) + 2, 4), "WAM file: the file is cut short"},
        {"E2A, 500 Hz", patched(e2a, 12, 500, 2), "AD4 file: invalid format record"},
        {"E2A, no decoded section", patched(e2a, 48, 0xFFFFFF00u, 4), "AD4 file: invalid format record"},
    };
    C_WavFileFormat factory;
    const std::string path = dir.File("damaged");
    for (const auto& c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(path, c.bytes));
        EXPECT_EQ(Refusal(factory, path, kOpenWithSamples), c.reason) << c.what;
        // The resource reader refuses it on its own as well, by its rate.
        RbfSummary summary;
        EXPECT_EQ(InspectRbf(c.bytes, summary), RbfError::kBadRate) << c.what;
    }
}

// The binaries the resource converter makes of each chip file, whole and cut
// short at every length: whole they open as resources, cut they are refused
// as resources (the end mark is missing), never by a chip file class.
TEST(RbfSharedMagic, ConverterBinariesOpenAndTheirTruncationsAreRefused) {
    test::OmbryLibrary ombry;
    ASSERT_TRUE(ombry.Loaded()) << "libOmbry not found in " << test::LibDir();
    test::TempDir dir;
    std::vector<ChipFile> chips = ChipFiles(dir);
    C_NewApmFile apm;
    chips.push_back({"apm", "", Saved(apm, 12, dir)});
    C_WavFileFormat factory;
    const std::string chipPath = dir.File("chip"), binPath = dir.File("chip.bin"), path = dir.File("cut.bin");
    int codings = 0;
    for (const ChipFile& chip : chips) {
        if (std::string(chip.name) == "wam") continue;  // the converter makes no resource of WAM files
        SCOPED_TRACE(chip.name);
        std::vector<uint8_t> bytes = chip.bytes;
        if (std::string(chip.name) == "mdm") std::memcpy(bytes.data(), "WMDM", 4);
        ASSERT_TRUE(test::WriteFileBytes(chipPath, bytes));
        ASSERT_EQ(ombry.Convert(chipPath, binPath), 1u);
        const std::vector<uint8_t> binary = test::ReadFileBytes(binPath);
        ++codings;
        RefPtr<C_WavFile> whole = factory.Open(binPath.c_str());
        ASSERT_TRUE(whole) << factory.LastFailure();
        EXPECT_STREQ(factory.LastClassName(), "C_RBFFile");
        for (size_t n = 7; n < binary.size(); n += (n < 80 ? 1 : binary.size() / 60 + 1)) {
            ASSERT_TRUE(test::WriteFileBytes(path, std::vector<uint8_t>(binary.begin(), binary.begin() + n)));
            const std::string why = Refusal(factory, path, kOpenWithSamples);
            EXPECT_EQ(why.rfind("RBF file: ", 0), 0u) << n << ": " << why;
        }
    }
    EXPECT_EQ(codings, 4);
}

}  // namespace
}  // namespace cz
