// Decodes the WMA stream of an ASF file, packet by packet, into 16-bit
// interleaved PCM. It reads the file only through a read-at-offset source.
//
// Calling order: Open (header, stream checks, codec set-up), Format, then
// NextPacket and Decode until NextPacket reports the end of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/wma/AsfReader.h"
#include "decoders/wma/WmaUnitDecoder.h"

namespace cz::wma {

// Format tags of the WMA family in a WAVEFORMATEX record.
constexpr uint16_t kTagWmaV1 = 0x0160;
constexpr uint16_t kTagWmaV2 = 0x0161;
constexpr uint16_t kTagWmaPro = 0x0162;
constexpr uint16_t kTagWmaLossless = 0x0163;
constexpr uint32_t kMaxWmaRate = 48000;

enum class WmaPacketStatus {
    kOk,
    kEndOfData,  // the packets the file announces have all been read
    kEndOfFile,  // the input ended first (a cut file)
    kError,      // a unit did not decode
};

struct WmaOutputFormat {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
};

// The reason a stream is not accepted, or "" when it is: the checks on the
// format record alone.
std::string WmaStreamRefusal(const AsfAudioFormat& format);

class WmaFileDecoder {
public:
    explicit WmaFileDecoder(I_AsfSource& source, WmaUnitDecoderFactory factory = {});

    // Reads the header, accepts the one audio stream and sets up the codec.
    // False with the reason in LastError.
    bool Open();
    WmaOutputFormat Format() const;
    const AsfFileInfo& Info() const { return reader_.Info(); }
    const AsfAudioStream& Stream() const { return reader_.Info().audioStreams.front(); }

    // Reads the next packet and decodes the units it completes.
    WmaPacketStatus NextPacket();
    // Moves up to maxFrames frames of the current packet's output to out;
    // returns the frames moved and sets *remaining to those still waiting.
    uint32_t Decode(int16_t* out, uint32_t maxFrames, uint32_t* remaining);

    const std::string& LastError() const { return error_; }
    uint64_t NextPacketOffset() const { return reader_.NextPacketOffset(); }
    uint64_t DamagedPackets() const { return reader_.DamagedPackets(); }

private:
    AsfReader reader_;
    WmaUnitDecoderFactory factory_;
    std::unique_ptr<I_WmaUnitDecoder> decoder_;
    std::vector<AsfMediaObject> objects_;
    std::vector<int16_t> pcm_;  // the current packet's output
    size_t taken_ = 0;          // samples of pcm_ already moved out
    bool failed_ = false;       // a unit failed: reported by the next NextPacket
    bool flushed_ = false;      // the held-back samples were given at the end
    std::string error_;
};

}  // namespace cz::wma
