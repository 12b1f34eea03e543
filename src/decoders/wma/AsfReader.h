// Reader of ASF files (the container of Windows Media Audio): the header
// objects that describe the streams, and the data packets, from which it
// gathers the media objects of one chosen stream.
//
// Object and packet layouts follow Microsoft's published description of the
// Advanced Systems Format, revision 01.20.03 (December 2004): the header
// object and its children (sections 3.1 to 3.17), the header extension (4),
// the data object and its packets (5.1, 5.2), and the audio spread error
// correction (9.1 and 10.8).
//
// The reader reads the file only through I_AsfSource, a read-at-offset
// service; every size and offset it meets is checked against what is there,
// and nothing is allocated from a size before it has been checked against a
// fixed cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cz::wma {

// Bytes of the input at an offset: a pointer to at most count bytes starting
// at offset, with *available set to how many there are (possibly fewer than
// asked for, 0 past the end or after a read error). The pointer stays valid
// until the next call.
class I_AsfSource {
public:
    virtual const uint8_t* ReadAt(uint64_t offset, size_t count, size_t* available) = 0;

protected:
    ~I_AsfSource() = default;
};

enum class AsfError {
    kNone,
    kTruncated,  // the input ends inside the header
    kNotAsf,     // no ASF header object at the start
    kBadHeader,  // an object size or a field that cannot be right
    kNoFileProperties,
    kNoDataObject,
    kBadPacketSize,  // packet size 0, not fixed, or beyond the cap
    kNoAudioStream,
    kSeveralAudioStreams,
    kProtected,  // encrypted content (digital rights management)
};
const char* AsfErrorText(AsfError error);

// The WAVEFORMATEX record of an audio stream.
struct AsfAudioFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> extra;  // the cbSize bytes after the 18-byte record
};

struct AsfAudioStream {
    uint16_t number = 0;  // 1 to 127
    bool encrypted = false;
    AsfAudioFormat format;
    // Audio spread: span > 1 means each media object of span x
    // virtualPacketLength bytes was interleaved in chunks of
    // virtualChunkLength bytes. span is 1 when there is nothing to undo.
    uint8_t span = 1;
    uint16_t virtualPacketLength = 0;
    uint16_t virtualChunkLength = 0;
};

struct AsfTag {
    std::string name;
    std::string value;  // UTF-8
};

struct AsfFileInfo {
    uint64_t fileSize = 0;      // as the file properties state it
    uint64_t playDuration = 0;  // in 100-nanosecond units
    uint64_t preroll = 0;       // milliseconds, included in playDuration
    uint32_t maxBitrate = 0;    // bits per second
    uint32_t packetSize = 0;
    uint64_t packetCount = 0;  // 0 when the file does not say (broadcast)
    uint64_t firstPacket = 0;  // offset of the first data packet
    uint64_t dataEnd = 0;      // end of the data object; 0 when unknown
    std::vector<AsfAudioStream> audioStreams;
    uint32_t otherStreams = 0;      // video, pictures, commands, ...
    bool protectedContent = false;  // content encryption objects present
    // From the content descriptions; shown by the tool, unused for decoding.
    std::string title;
    std::string author;
    std::vector<AsfTag> tags;
};

// One complete media object of the chosen stream, with audio spread undone.
struct AsfMediaObject {
    std::vector<uint8_t> bytes;
    // Data of the stream was lost just before this object (a damaged
    // packet, a missing fragment): the decoder must start afresh.
    bool discontinuity = false;
};

enum class AsfPacketResult {
    kOk,         // a packet was read (it may have completed no object)
    kEndOfData,  // every packet the file announces has been read
    kEndOfFile,  // the input ended before the next whole packet
};

class AsfReader {
public:
    // Caps on sizes taken from a file.
    static constexpr uint32_t kMaxPacketSize = 1u << 20;
    static constexpr uint32_t kMaxMediaObject = 1u << 20;

    explicit AsfReader(I_AsfSource& source) : source_(source) {}

    // Reads the header object and finds the data object. On success Info()
    // describes the file; the checks on streams (how many audio streams,
    // protection) are left to the caller, which knows what it can use.
    AsfError ReadHeader();
    const AsfFileInfo& Info() const { return info_; }

    // Picks the stream whose media objects NextPacket gathers (by its index
    // in Info().audioStreams).
    void SelectAudioStream(size_t index);

    // Reads the next data packet and appends the media objects of the chosen
    // stream that it completes. A packet whose fields cannot be right is
    // skipped whole (counted in DamagedPackets) and the object it was part
    // of is dropped.
    AsfPacketResult NextPacket(std::vector<AsfMediaObject>& completed);

    // Where the next packet starts, and the packets read so far.
    uint64_t NextPacketOffset() const { return info_.firstPacket + packetsRead_ * uint64_t(info_.packetSize); }
    uint64_t PacketsRead() const { return packetsRead_; }
    uint64_t DamagedPackets() const { return damagedPackets_; }

private:
    bool ReadExact(uint64_t offset, size_t count, uint8_t* out);
    AsfError ReadHeaderObjects(uint64_t begin, uint64_t end, int depth);
    AsfError ReadStreamProperties(const uint8_t* body, size_t size);
    AsfError ReadExtendedStreamProperties(const uint8_t* body, size_t size);
    void ReadContentDescription(const uint8_t* body, size_t size);
    void ReadExtendedContentDescription(const uint8_t* body, size_t size);
    bool ParsePacket(const uint8_t* packet, size_t size, std::vector<AsfMediaObject>& completed);
    bool TakePayload(uint32_t objectNumber, uint32_t offset, const uint8_t* replicated, uint32_t replicatedLength,
                     const uint8_t* data, uint32_t length, std::vector<AsfMediaObject>& completed);
    void Deliver(std::vector<uint8_t>&& bytes, std::vector<AsfMediaObject>& completed);
    void DropPartial();

    I_AsfSource& source_;
    AsfFileInfo info_;
    uint16_t streamNumber_ = 0;
    uint8_t span_ = 1;
    uint32_t virtualPacketLength_ = 0;
    uint32_t virtualChunkLength_ = 0;
    uint64_t packetsRead_ = 0;
    uint64_t damagedPackets_ = 0;
    std::vector<uint8_t> packet_;
    // The media object being gathered.
    bool gathering_ = false;
    uint32_t objectNumber_ = 0;
    uint32_t objectSize_ = 0;
    std::vector<uint8_t> object_;
    bool lost_ = false;  // data lost since the last delivered object
};

}  // namespace cz::wma
