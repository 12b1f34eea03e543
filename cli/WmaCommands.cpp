// The WMA side of the tool: recognising ASF files, decoding their WMA stream
// with a progress bar, and "info" on them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "ProgressBar.h"
#include "decoders/wma/AsfReader.h"
#include "decoders/wma/C_WmaToWavConverter.h"
#include "decoders/wma/WmaFileDecoder.h"
#include "platform/Platform.h"

namespace cz::cli {

namespace {

// The first bytes of every ASF file: the header object's GUID.
constexpr uint8_t kAsfMagic[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// Reads of a file at offsets, for the ASF reader.
class FileSource final : public wma::I_AsfSource {
public:
    explicit FileSource(const std::string& path)
        : file_(platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite)) {}
    bool IsOpen() const { return file_.has_value(); }
    const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) override {
        *available = 0;
        count = std::min<size_t>(count, 65536);
        buffer_.resize(count);
        size_t got = 0;
        if (!file_ || !file_->Seek(int64_t(offset), platform::SeekOrigin::kBegin) ||
            !file_->Read(buffer_.data(), count, &got) || got == 0)
            return nullptr;
        *available = got;
        return buffer_.data();
    }

private:
    std::optional<platform::File> file_;
    std::vector<uint8_t> buffer_;
};

std::string CodecName(uint16_t tag) {
    switch (tag) {
        case wma::kTagWmaV1: return "WMA version 1";
        case wma::kTagWmaV2: return "WMA version 2";
        case wma::kTagWmaPro: return "WMA Professional";
        case wma::kTagWmaLossless: return "WMA Lossless";
        case 0x000A: return "WMA Voice";
        case 0x0055: return "MPEG audio layer 3";
        case 0x0001: return "PCM";
        default: return "unknown";
    }
}

}  // namespace

bool IsWmaFile(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    uint8_t magic[16] = {};
    return file && file->ReadExact(magic, sizeof magic) && std::memcmp(magic, kAsfMagic, sizeof magic) == 0;
}

bool DecodeWma(const Options& options, const std::string& input, const std::string& wav) {
    ProgressBar bar("decoding ", options.quiet);
    wma::C_WmaToWavConverter converter;
    if (converter.Convert(input.c_str(), wav.c_str(), &bar)) return true;
    Fail(input, converter.LastError().empty() ? "not a decodable WMA file" : converter.LastError());
    return false;
}

std::string DecodeWmaQuietly(const std::string& input, const std::string& wav) {
    wma::C_WmaToWavConverter converter;
    if (converter.Convert(input.c_str(), wav.c_str(), nullptr)) return std::string();
    return converter.LastError().empty() ? "not a decodable WMA file" : converter.LastError();
}

int RunWmaInfo(const std::string& path, bool json) {
    FileSource source(path);
    wma::WmaFileDecoder decoder(source);
    const bool decodable = source.IsOpen() && decoder.Open();
    const wma::AsfFileInfo& info = decoder.Info();
    std::fflush(stdout);
    if (info.audioStreams.empty()) {
        const std::string why = decoder.LastError().empty() ? "cannot be read" : decoder.LastError();
        Fail(path, why);
        if (json) std::printf("{\"file\": %s, \"error\": %s}\n", JsonText(path).c_str(), JsonText(why).c_str());
        return kExitFailed;
    }
    // Play duration counts the preroll as well.
    const double seconds = std::max(0.0, double(info.playDuration) / 1e7 - double(info.preroll) / 1000.0);
    const std::string refusal = decodable ? std::string() : decoder.LastError();
    if (json) {
        std::printf("{\"file\": %s, \"format\": \"ASF, Windows Media\", \"streams\": [", JsonText(path).c_str());
        for (size_t i = 0; i < info.audioStreams.size(); ++i) {
            const wma::AsfAudioStream& s = info.audioStreams[i];
            std::printf(
                "%s{\"number\": %u, \"codec\": %s, \"format_tag\": %u, \"sample_rate\": %u, "
                "\"channels\": %u, \"bits\": %u, \"kbps\": %.1f, \"block_align\": %u}",
                i ? ", " : "", s.number, JsonText(CodecName(s.format.formatTag)).c_str(), s.format.formatTag,
                s.format.sampleRate, s.format.channels, s.format.bitsPerSample, s.format.avgBytesPerSecond * 8 / 1000.0,
                s.format.blockAlign);
        }
        std::printf(
            "], \"other_streams\": %u, \"duration_s\": %.3f, \"packets\": %llu, \"packet_size\": %u, "
            "\"protected\": %s, \"title\": %s, \"author\": %s, \"tags\": {",
            info.otherStreams, seconds, static_cast<unsigned long long>(info.packetCount), info.packetSize,
            info.protectedContent ? "true" : "false", JsonText(info.title).c_str(), JsonText(info.author).c_str());
        for (size_t i = 0; i < info.tags.size(); ++i)
            std::printf("%s%s: %s", i ? ", " : "", JsonText(info.tags[i].name).c_str(),
                        JsonText(info.tags[i].value).c_str());
        std::printf("}, \"decodable\": %s", decodable ? "true" : "false");
        if (!decodable) std::printf(", \"reason\": %s", JsonText(refusal).c_str());
        std::printf("}\n");
        return kExitOk;
    }
    std::printf("%s\n", path.c_str());
    std::printf("  format:      ASF, Windows Media\n");
    for (const wma::AsfAudioStream& s : info.audioStreams) {
        std::printf("  stream %u:    %s (format tag 0x%04X), %u Hz, %s, %.1f kbit/s\n", s.number,
                    CodecName(s.format.formatTag).c_str(), s.format.formatTag, s.format.sampleRate,
                    s.format.channels == 1   ? "mono"
                    : s.format.channels == 2 ? "stereo"
                                             : (std::to_string(s.format.channels) + " channels").c_str(),
                    s.format.avgBytesPerSecond * 8 / 1000.0);
    }
    if (info.otherStreams) std::printf("  other:       %u streams (video, pictures or data)\n", info.otherStreams);
    std::printf("  duration:    %.3f s\n", seconds);
    if (!info.title.empty()) std::printf("  title:       %s\n", info.title.c_str());
    if (!info.author.empty()) std::printf("  author:      %s\n", info.author.c_str());
    for (const wma::AsfTag& t : info.tags) std::printf("  tag %s: %s\n", t.name.c_str(), t.value.c_str());
    // A stream that cannot be decoded is a fact about the file, not a
    // failure of "info".
    if (decodable)
        std::printf("  decodable:   yes\n");
    else
        std::printf("  decodable:   no: %s\n", refusal.c_str());
    return kExitOk;
}

}  // namespace cz::cli
