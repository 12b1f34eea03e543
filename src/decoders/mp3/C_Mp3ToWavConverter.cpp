// MP3-to-WAV driver.
#include "decoders/mp3/C_Mp3ToWavConverter.h"

#include <cstring>

namespace cz::mp3 {

size_t C_Mp3ToWavConverter::Input::Read(uint8_t* buffer, size_t count) {
    if (file) {
        size_t got = 0;
        return file->Read(buffer, count, &got) ? got : 0;
    }
    const size_t available = offset < size ? size - offset : 0;
    const size_t n = count < available ? count : available;
    if (n > 0) {
        std::memcpy(buffer, data + offset, n);
    }
    offset += n;
    return n;
}

uint64_t C_Mp3ToWavConverter::Input::Position() {
    if (file) {
        return file->Position().value_or(0);
    }
    return offset;
}

C_Mp3ToWavConverter::~C_Mp3ToWavConverter() = default;

namespace {

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

namespace {

// The offset of the Xing/Info tag in the Layer III frame at bytes; -1 when
// there is none.
int32_t InfoTagOffset(const uint8_t* bytes, int32_t count) {
    if (bytes == nullptr || count < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0 || ((bytes[1] >> 1) & 3) != 1) {
        return -1;  // not a Layer III header
    }
    const bool mpeg1 = ((bytes[1] >> 3) & 3) == 3;
    const bool mono = (bytes[3] >> 6) == 3;
    const int32_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int32_t crc = (bytes[1] & 1) == 0 ? 2 : 0;
    const int32_t at = 4 + crc + side;
    if (count < at + 8) return -1;
    const uint8_t* tag = bytes + at;
    if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0) return -1;
    return at;
}

}  // namespace

bool C_Mp3ToWavConverter::IsInfoFrame(const uint8_t* bytes, int32_t count) { return InfoTagOffset(bytes, count) >= 0; }

bool C_Mp3ToWavConverter::ReadInfoFrame(const uint8_t* bytes, int32_t count, GaplessInfo* info) {
    if (info == nullptr) return false;
    int32_t at = InfoTagOffset(bytes, count);
    if (at < 0) return false;
    const uint8_t* tag = bytes + at;
    const uint32_t flags = Be32(tag + 4);
    at += 8;
    GaplessInfo found;
    if (flags & 1) {
        if (count < at + 4) return false;
        found.frames = Be32(bytes + at);
        at += 4;
    }
    if (flags & 2) at += 4;
    if (flags & 4) at += 100;
    if (flags & 8) at += 4;
    // The encoder's extension: 9 bytes naming the encoder, then among other
    // fields 12 bits of delay and 12 of padding at offset 21.
    if (count < at + 24) return false;
    const uint8_t* ext = bytes + at;
    const bool known = std::memcmp(ext, "LAME", 4) == 0 || std::memcmp(ext, "Lavc", 4) == 0 ||
                       std::memcmp(ext, "Lavf", 4) == 0 || std::memcmp(ext, "GOGO", 4) == 0 ||
                       std::memcmp(ext, "L3.99", 5) == 0;
    if (!known) return false;
    found.delay = int32_t((uint32_t(ext[21]) << 4) | (ext[22] >> 4));
    found.padding = int32_t((uint32_t(ext[22] & 0x0F) << 8) | ext[23]);
    found.found = true;
    *info = found;
    return true;
}

int32_t C_Mp3ToWavConverter::Convert(const char* inputPath, const char* outputPath, I_ProgressCallback* progress,
                                     uint32_t durationLimit) {
    if (inputPath == nullptr || outputPath == nullptr) {
        return 0;
    }
    input_ = Input{};
    input_.file = platform::File::Open(inputPath, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!input_.file) {
        return 0;
    }
    uint64_t size = 0;
    if (!input_.file->Seek(0, platform::SeekOrigin::kEnd, &size) ||
        !input_.file->Seek(0, platform::SeekOrigin::kBegin)) {
        input_.file.reset();
        return 0;
    }
    // The WAV is written beside its name and put in place only on success,
    // so a failure leaves no half-written or empty WAV and an existing file
    // of that name untouched.
    C_Mp3WavWriter writer;
    if (!writer.Open(outputPath)) {
        input_.file.reset();
        return 0;
    }
    const int32_t result = Run(writer, progress, durationLimit, size);
    input_.file.reset();
    if (!result) writer.Abandon();
    return result;
}

int32_t C_Mp3ToWavConverter::ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>* wav,
                                           I_ProgressCallback* progress, uint32_t durationLimit) {
    input_ = Input{};
    input_.data = data;
    input_.size = data == nullptr ? 0 : size;
    C_Mp3WavWriter writer;
    if (!writer.OpenMemory(wav)) {
        return 0;
    }
    return Run(writer, progress, durationLimit, input_.size);
}

int32_t C_Mp3ToWavConverter::Run(C_Mp3WavWriter& writer, I_ProgressCallback* progress, uint32_t durationLimit,
                                 uint64_t inputSize) {
    const bool limited = durationLimit != 0;
    int32_t lastPercent = 0;
    if (progress != nullptr) {
        progress->OnBegin();
        progress->OnProgress(0);
    }
    if (!BeginDecoding()) {
        writer.Abandon();
        return 0;
    }
    bool first = true;
    int64_t total = 0;
    int64_t remaining = 0;
    Mp3GaplessTrimmer trimmer;
    for (;;) {
        uint16_t count = 0;
        const int16_t* pcm = NextFrame(&count);
        if (pcm == nullptr) {
            break;
        }
        if (first) trimmer.Start(gaplessInfo_, frameFormat_.channels, count);
        trimmer.Cut(&pcm, &count);
        if (first) {
            first = false;
            C_Mp3WavWriter::FormatRecord format;
            format.formatTag = kWaveTagPcm;
            format.channels = uint16_t(frameFormat_.channels);
            format.sampleRate = uint32_t(frameFormat_.sampleRate);
            format.bytesPerSecond =
                uint32_t(frameFormat_.channels * frameFormat_.bitsPerSample * frameFormat_.sampleRate / 8);
            format.blockAlign = uint16_t(frameFormat_.channels * frameFormat_.bitsPerSample / 8);
            format.bitsPerSample = uint16_t(frameFormat_.bitsPerSample);
            if (!writer.WriteFormat(format)) {
                writer.Abandon();
                return 0;
            }
            if (limited) {
                const double frames = double(frameFormat_.sampleRate) * double(durationLimit) * 0.001;
                total = int64_t(frames) * frameFormat_.channels;
                remaining = total;
            }
        }
        if (progress != nullptr) {
            double fraction = 0.0;
            if (limited) {
                fraction = total > 0 ? double(total - remaining) / double(total) : 0.0;
            } else if (inputSize > 0) {
                fraction = (double(input_.Position()) - double(bytesLeft_)) / double(inputSize);
            }
            const int32_t percent = int32_t(fraction * 100.0);
            if (percent != lastPercent) {
                progress->OnProgress(percent);
                lastPercent = percent;
            }
        }
        int64_t n = count;
        if (limited && n > remaining) {
            n = remaining;
        }
        if (n > 0 && !writer.WriteSamples(pcm, uint32_t(n * 2))) {
            writer.Abandon();
            return 0;
        }
        if (limited) {
            remaining -= n;
            if (remaining == 0) {
                break;
            }
        }
    }
    decoder_.reset();
    if (first) {
        writer.Abandon();
        return 0;  // not a single frame decoded: not an MP3 stream
    }
    if (!writer.Close()) {
        return 0;  // the sizes could not be patched or the data did not reach the file
    }
    if (progress != nullptr) {
        progress->OnProgress(100);
        progress->OnEnd();
    }
    return 1;
}

bool C_Mp3ToWavConverter::OpenStream(const char* inputPath) {
    input_ = Input{};
    streamSize_ = 0;
    if (inputPath == nullptr) return false;
    input_.file = platform::File::Open(inputPath, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!input_.file || !input_.file->Seek(0, platform::SeekOrigin::kEnd, &streamSize_) ||
        !input_.file->Seek(0, platform::SeekOrigin::kBegin)) {
        input_.file.reset();
        return false;
    }
    return BeginDecoding();
}

double C_Mp3ToWavConverter::InputFraction() {
    if (streamSize_ == 0) return 0.0;
    const double fraction = (double(input_.Position()) - double(bytesLeft_)) / double(streamSize_);
    return fraction < 0.0 ? 0.0 : fraction > 1.0 ? 1.0 : fraction;
}

bool C_Mp3ToWavConverter::BeginDecoding() {
    decoder_ = Mp3DecoderCreate();
    if (!decoder_) {
        return false;
    }
    bytesLeft_ = 0;
    stopped_ = false;
    endOfFile_ = false;
    readPosition_ = 0;
    frameFormat_ = Mp3FrameFormat{};
    firstFrame_ = true;
    gaplessInfo_ = GaplessInfo{};
    return true;
}

void C_Mp3ToWavConverter::Consume(int32_t count) {
    if (count > bytesLeft_) {
        count = bytesLeft_;
    }
    readPosition_ += count;
    bytesLeft_ -= count;
}

void C_Mp3ToWavConverter::Refill() {
    if (bytesLeft_ >= kRefillThreshold || endOfFile_) {
        return;
    }
    std::memmove(readBuffer_, readBuffer_ + readPosition_, size_t(bytesLeft_));
    readPosition_ = 0;
    const size_t wanted = size_t(kReadBufferSize - bytesLeft_);
    const size_t got = input_.Read(readBuffer_ + bytesLeft_, wanted);
    if (got < wanted) {
        // No stale bytes may look like a sync word.
        std::memset(readBuffer_ + bytesLeft_ + got, 0, wanted - got);
    }
    bytesLeft_ += int32_t(got);
    if (got == 0) {
        endOfFile_ = true;
    }
}

const int16_t* C_Mp3ToWavConverter::NextFrame(uint16_t* sampleCount) {
    if (stopped_ || !decoder_) {
        return nullptr;
    }
    for (;;) {
        Refill();
        if (gapless_ && firstFrame_) {
            // A tag in front of the stream may carry the iTunes-style
            // gapless comment (read from the bytes in the window); an Info
            // frame read later takes its place.
            Mp3GaplessInfo comment;
            if (ReadItunesGapless(readBuffer_ + readPosition_, size_t(bytesLeft_), &comment)) gaplessInfo_ = comment;
        }
        const int32_t tag = tagSkipper_.Skip(*this);
        if (tag > 0) {
            Consume(tag);
        }
        Refill();
        const int32_t offset = Mp3FindSync(readBuffer_ + readPosition_, bytesLeft_);
        if (offset < 0) {
            stopped_ = true;
            return nullptr;
        }
        Consume(offset);
        const uint8_t* position = readBuffer_ + readPosition_;
        int32_t left = bytesLeft_;
        // The encoder's Info frame, when it leads the stream, is silence that
        // only carries facts about the stream: decoded (it leaves the decoder
        // as it was) but not given out.
        bool infoFrame = false;
        if (gapless_ && firstFrame_) {
            if (ReadInfoFrame(position, left, &gaplessInfo_)) {
                infoFrame = true;
            } else if (gaplessInfo_.found) {
                // The comment gave the facts: another encoder's Info frame
                // is no audio either.
                infoFrame = IsInfoFrame(position, left);
            }
        }
        const int32_t result = Mp3DecodeFrame(decoder_.get(), &position, &left, pcm_);
        if (result == kMp3Ok || infoFrame) firstFrame_ = false;
        if (infoFrame) {
            readPosition_ = int32_t(position - readBuffer_);
            bytesLeft_ = left;
            if (result == kMp3InvalidHeader || result == kMp3FreeFormatSyncNotFound) Consume(4);
            continue;
        }
        readPosition_ = int32_t(position - readBuffer_);
        bytesLeft_ = left;
        switch (result) {
            case kMp3Ok:
                Mp3GetFrameFormat(decoder_.get(), &frameFormat_);
                if (sampleCount != nullptr) {
                    *sampleCount = uint16_t(frameFormat_.outputSamples);
                }
                return pcm_;
            case kMp3MainDataUnderflow:
            case kMp3InvalidSideInfo:
            case kMp3InvalidScaleFactors:
            case kMp3InvalidHuffman:
            case kMp3InvalidRequantisation:
            case kMp3InvalidImdct:
            case kMp3InvalidSynthesis: break;
            case kMp3InvalidHeader:
            case kMp3FreeFormatSyncNotFound:
                // A free-format header without a follower is as good as a
                // broken one: resynchronise after it rather than stop.
                Consume(4);
                break;
            default: stopped_ = true; return nullptr;
        }
    }
}

}  // namespace cz::mp3
