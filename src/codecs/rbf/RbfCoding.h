// The payload codings of RBF resources: the bytes a chip plays, after a
// 6-byte header (four-character magic naming the coding, u16 sample rate).
// Bytes in, samples out; nothing here knows of files.
//
//   magic   coding                                 samples               end mark
//   "WMdM"  delta blocks with 8-sample groups      unsigned 12-bit       FF
//   "WADM"  4-bit ADPCM blocks                     unsigned 12-bit       00 00
//   "WE2A"  4-bit ADPCM with two-tap prediction    unsigned 16-bit       00 00
//   "Q42M"  16-bit words with two 5-bit deltas     unsigned 12-bit       08 02
//
// Every block is checked against the bytes that are left before anything of
// it is output: a block that runs past the payload stops the decoding with
// kBlockPastEnd. A payload that ends between blocks without its end mark
// decodes up to there (endMark false); the file readers (formats/rbf) refuse
// it, and bytes after the end mark, since neither is a resource the chip can
// play. The markers a payload carries are reported with the number of
// samples output before the block that holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace cz {

constexpr size_t kRbfHeaderSize = 6;
// The most samples one resource may decode to (about 70 minutes at 16 kHz,
// 128 MiB of 16-bit samples). A few bytes of silence blocks stand for tens
// of thousands of samples, so the count is capped rather than trusted.
constexpr uint64_t kRbfMaxSamples = uint64_t{1} << 26;

struct RbfMarker {
    uint32_t position = 0;  // samples output before the marker's block
    uint8_t identifier = 0;
    uint8_t type = 0;
    bool operator==(const RbfMarker&) const = default;
};

// Where decoded samples go. Put(value, count) outputs count copies of value;
// false stops the decoding (a failed write).
class RbfSampleSink {
public:
    virtual ~RbfSampleSink() = default;
    virtual bool Put(uint16_t value, uint32_t count) = 0;
};

enum class RbfStatus {
    kOk,              // the end mark, or the end of the payload between blocks
    kBlockPastEnd,    // a block (or a command's operand) runs past the payload
    kTooManySamples,  // more than kRbfMaxSamples
    kSinkFailed,
};
const char* RbfStatusText(RbfStatus status);

struct RbfDecodeResult {
    RbfStatus status = RbfStatus::kOk;
    uint64_t samples = 0;
    bool endMark = false;  // the payload ended in its end mark
    size_t bytes = 0;      // payload bytes walked, the end mark included
    std::vector<RbfMarker> markers;
    bool ok() const { return status == RbfStatus::kOk; }
};

// What ParseInfo reports of a payload: the decoded size, 1 channel, the
// significant bits in 16-bit containers, unsigned.
struct RbfInfo {
    RbfStatus status = RbfStatus::kOk;
    uint64_t dataSize = 0;  // bytes of 16-bit samples
    uint16_t channels = 1;
    uint16_t bits = 12;
    uint16_t containerBits = 16;
    uint32_t flags = 0;
};

// One class per coding, tried in the order of the table above.
class RbfDecoder {
public:
    virtual ~RbfDecoder() = default;
    virtual const char* GetMagic() const = 0;
    // Walks the payload without output.
    RbfInfo ParseInfo(std::span<const uint8_t> payload) const;
    virtual RbfDecodeResult Decode(std::span<const uint8_t> payload, RbfSampleSink& sink) const = 0;
    uint32_t GetEndMarkSize() const { return static_cast<uint32_t>(EndMark().size()); }
    // How many payload bytes from the start a copy cut to limit bytes keeps:
    // the whole blocks (a command with its operands for "Q42M") from the
    // start while they fit, never the end mark, which is written after them.
    // They decode to a prefix of what the whole payload decodes to.
    virtual size_t CutLength(std::span<const uint8_t> payload, size_t limit) const = 0;
    virtual std::span<const uint8_t> EndMark() const = 0;
    // Significant bits of the decoded samples (12, or 16 for "WE2A").
    virtual uint16_t SampleBits() const { return 12; }
    // The value a decoder outputs for silence.
    virtual uint16_t SilenceValue() const { return 2048; }
};

// The decoder whose magic the first four bytes carry; none for another magic
// or fewer than four bytes.
std::unique_ptr<RbfDecoder> OpenRbfDecoder(std::span<const uint8_t> header);

// The sample rate field of a header of at least 6 bytes.
inline uint16_t RbfSampleRate(std::span<const uint8_t> header) {
    return static_cast<uint16_t>(header[4] | (header[5] << 8));
}

}  // namespace cz
