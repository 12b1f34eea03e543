// The WMA side of the tool: recognising ASF files, decoding their WMA stream
// with a progress bar, and "info" on them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Json.h"
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
        if (json) PrintJsonError(path, why);
        return kExitFailed;
    }
    // Play duration counts the preroll as well.
    const double seconds = std::max(0.0, double(info.playDuration) / 1e7 - double(info.preroll) / 1000.0);
    const std::string refusal = decodable ? std::string() : decoder.LastError();
    if (json) {
        // Windows Media is read, not one of the registry's formats: it has no number.
        Json out;
        out.Object().Key("file").String(path).Key("format").String("ASF, Windows Media").Key("format_id").Null();
        out.Key("streams").Array();
        for (const wma::AsfAudioStream& s : info.audioStreams) {
            out.Object().Key("number").Unsigned(s.number).Key("codec").String(CodecName(s.format.formatTag));
            out.Key("format_tag").Unsigned(s.format.formatTag).Key("sample_rate").Unsigned(s.format.sampleRate);
            out.Key("channels").Unsigned(s.format.channels).Key("bits").Unsigned(s.format.bitsPerSample);
            out.Key("kbps").Number(s.format.avgBytesPerSecond * 8 / 1000.0, 1);
            out.Key("block_align").Unsigned(s.format.blockAlign).End();
        }
        out.End().Key("other_streams").Unsigned(info.otherStreams).Key("duration_s").Number(seconds);
        out.Key("packets").Unsigned(info.packetCount).Key("packet_size").Unsigned(info.packetSize);
        out.Key("protected").Bool(info.protectedContent).Key("title").String(info.title);
        out.Key("author").String(info.author).Key("tags").Object();
        for (const auto& tag : info.tags) out.Key(tag.name).String(tag.value);
        out.End().Key("decodable").Bool(decodable);
        if (!decodable) out.Key("reason").String(refusal);
        out.End().Print();
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
