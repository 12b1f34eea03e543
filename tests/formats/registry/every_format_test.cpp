// One sound saved in every format id that has a writer, each file reopened
// through the factory: the class that opens it, and the samples as that class
// promises them (exact for the PCM forms, the coded sound for the others).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatRegistry.h"
#include "formats/registry/FormatTable.h"
#include "foundation/RefPtr.h"
#include "support/LittleEndian.h"
#include "support/Signals.h"
#include "support/TestSupport.h"
#include "wave/C_WavFile.h"
#include "wave/C_WavInfo.h"
#include "wave/I_WavData.h"

namespace cz {
namespace {

// The samples as signed 16-bit values, whatever width and sign the class
// gives them in (the chip formats decode to 12 bits, unsigned, in 16-bit
// words; 8-bit PCM is unsigned).
std::vector<int16_t> Samples(C_WavFile& file) {
    I_WavData* data = file.GetWavData();
    I_WavInfo* info = file.GetWavInfo();
    std::vector<int16_t> out;
    if (!data || !info || !data->GetSampleBuffer()) return out;
    const uint8_t* bytes = data->GetSampleBuffer();
    const uint32_t size = data->GetDataSize();
    const int bits = info->GetValidBits() ? info->GetValidBits() : info->GetContainerBits();
    const bool isSigned = info->GetSignedFlag() != 0;
    const int step = info->GetContainerBits() == 8 ? 1 : 2;
    for (uint32_t i = 0; i + step <= size; i += step) {
        int v = step == 1 ? bytes[i] : (bytes[i] | (bytes[i + 1] << 8));
        if (isSigned) {
            v = step == 1 ? int8_t(v) : int16_t(v);
            v = (v << (16 - step * 8)) >> (16 - step * 8);
        } else {
            v -= 1 << (bits - 1);
        }
        out.push_back(static_cast<int16_t>(std::clamp(v * (1 << (16 - bits)), -32768, 32767)));
    }
    return out;
}

// Signal-to-noise ratio of b against a over the shorter length, in dB.
double Snr(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        signal += double(a[i]) * a[i];
        noise += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

enum class Fidelity {
    kExact,      // the samples come back unchanged
    kTwelveBit,  // cut to 12 bits (toward zero), otherwise unchanged
    kCoded,      // coded: at least minSnr dB
};

struct Expectation {
    const char* openedBy = nullptr;  // nullptr: the class that wrote it
    Fidelity fidelity = Fidelity::kCoded;
    double minSnr = 6;
    const char* why = "";
};

// Where the class that opens a file is not the one that wrote it, or the
// samples are not what a plain look at the format suggests, the row says why.
const std::map<uint32_t, Expectation>& Expectations() {
    static const std::map<uint32_t, Expectation> table = {
        {kFormatWav, {nullptr, Fidelity::kExact}},
        {kFormatSrc, {nullptr, Fidelity::kTwelveBit, 0, "the source form keeps the chip's 12 bits"}},
        {kFormatEnSrc, {"C_SrcFile", Fidelity::kTwelveBit, 0, "the scrambled source is read by the source class"}},
        {kFormatP16, {nullptr, Fidelity::kExact}},
        {kFormatS16, {nullptr, Fidelity::kExact}},
        {kFormatPc8, {nullptr, Fidelity::kCoded, 40}},
        {kFormatS08, {nullptr, Fidelity::kCoded, 40}},
        {kFormatMpm, {nullptr, Fidelity::kCoded, 40, "an MPM container of 8-bit PCM frames"}},
        {kFormatLp8, {nullptr, Fidelity::kCoded, 25}},
        {kFormatP10, {nullptr, Fidelity::kCoded, 45}},
    };
    return table;
}

TEST(EveryFormat, SavedSoundsReopenThroughTheFactory) {
    test::TempDir dir;
    C_WavFileFormat factory;  // installs the writer table
    C_WavFile sound;
    // 0.4 s at 8000 Hz: a voiced tone with harmonics under an envelope.
    std::vector<int16_t> source(3200);
    for (size_t i = 0; i < source.size(); ++i) {
        const double t = double(i) / 8000.0, env = std::sin(3.14159265358979 * double(i) / source.size());
        source[i] = static_cast<int16_t>(env * (9000 * std::sin(2 * 3.14159265358979 * 180 * t) +
                                                4000 * std::sin(2 * 3.14159265358979 * 540 * t) +
                                                2000 * std::sin(2 * 3.14159265358979 * 900 * t)));
    }
    const std::vector<uint8_t> pcm = test::WordBytes(source);
    sound.SetFormat(8000, static_cast<uint32_t>(pcm.size()), 1, 16, 16, 1);
    sound.SetSampleData(pcm.data(), static_cast<uint32_t>(pcm.size()));

    size_t saved = 0;
    for (const FormatDescriptor* row : FormatRows()) {
        if (!row->writes || !row->create || row->id == kFormatNone) continue;
        const char* extension = GetExtensionOfFormat(row->id);
        ASSERT_TRUE(extension && *extension) << row->className;
        const std::string path = dir.File(std::string(row->className) + extension);
        SCOPED_TRACE(std::string(row->className) + " -> " + path);
        if (!sound.SaveAs(row->id, path.c_str())) {
            // The classes over the external codec libraries write only where
            // the library is installed.
            std::printf("%s: not written in this build\n", row->className);
            continue;
        }
        ++saved;

        const auto found = Expectations().find(row->id);
        const Expectation expected = found != Expectations().end() ? found->second : Expectation{};
        RefPtr<C_WavFile> file = factory.Open(path.c_str());
        ASSERT_TRUE(file) << factory.LastFailure();
        EXPECT_STREQ(factory.LastClassName(), expected.openedBy ? expected.openedBy : row->className) << expected.why;
        ASSERT_TRUE(file->GetWavInfo());
        std::printf("%-16s opened by %-16s %2u bits in %2u, %s\n", row->className, factory.LastClassName(),
                    file->GetWavInfo()->GetValidBits(), file->GetWavInfo()->GetContainerBits(),
                    file->GetWavInfo()->GetSignedFlag() ? "signed" : "unsigned");
        EXPECT_EQ(file->GetWavInfo()->GetSampleRate(), 8000u);
        const std::vector<int16_t> back = Samples(*file);
        if (expected.fidelity == Fidelity::kExact) {
            EXPECT_EQ(back, source);
            continue;
        }
        if (expected.fidelity == Fidelity::kTwelveBit) {
            std::vector<int16_t> cut(source);
            for (auto& v : cut) v = static_cast<int16_t>(v / 16 * 16);
            EXPECT_EQ(back, cut);
            continue;
        }
        // Coded: padded to whole frames at most, and near the source.
        EXPECT_GE(back.size() + 64, source.size());
        EXPECT_LE(back.size(), source.size() + 2048);
        EXPECT_GE(Snr(source, back), expected.minSnr);
        // Opened again, the same samples.
        RefPtr<C_WavFile> again = factory.Open(path.c_str());
        ASSERT_TRUE(again);
        EXPECT_EQ(Samples(*again), back);
    }
    std::printf("%zu format ids saved and reopened\n", saved);
}

}  // namespace
}  // namespace cz
