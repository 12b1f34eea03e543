// WMA stream of an ASF file to PCM.
#include "decoders/wma/WmaFileDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cz::wma {

std::string WmaStreamRefusal(const AsfAudioFormat& f) {
    char text[160];
    switch (f.formatTag) {
        case kTagWmaV1:
        case kTagWmaV2: break;
        case kTagWmaPro: return "WMA Professional (format tag 0x0162) is not supported";
        case kTagWmaLossless: return "WMA Lossless (format tag 0x0163) is not supported";
        case 0x000A: return "WMA Voice (format tag 0x000A) is not supported";
        default:
            std::snprintf(text, sizeof text, "the audio stream is not WMA version 1 or 2 (format tag 0x%04X)",
                          unsigned(f.formatTag));
            return text;
    }
    if (f.sampleRate == 0 || f.sampleRate > kMaxWmaRate) {
        std::snprintf(text, sizeof text, "sample rate %u Hz is not supported (at most 48000 Hz)",
                      unsigned(f.sampleRate));
        return text;
    }
    if (f.channels == 0 || f.channels > 2) {
        std::snprintf(text, sizeof text, "%u channels are not supported (mono or stereo only)", unsigned(f.channels));
        return text;
    }
    if (f.bitsPerSample != 16) {
        std::snprintf(text, sizeof text, "%u bits per sample are not supported (16 only)", unsigned(f.bitsPerSample));
        return text;
    }
    if (f.blockAlign == 0) return "the stream's block size is 0";
    return std::string();
}

WmaFileDecoder::WmaFileDecoder(I_AsfSource& source, WmaUnitDecoderFactory factory)
    : reader_(source), factory_(std::move(factory)) {
    if (!factory_) factory_ = MakeWmaUnitDecoder;
}

bool WmaFileDecoder::Open() {
    const AsfError e = reader_.ReadHeader();
    if (e != AsfError::kNone) {
        error_ = AsfErrorText(e);
        return false;
    }
    const AsfFileInfo& info = reader_.Info();
    if (info.audioStreams.size() > 1) {
        error_ = AsfErrorText(AsfError::kSeveralAudioStreams);
        return false;
    }
    if (info.protectedContent || info.audioStreams.front().encrypted) {
        error_ = AsfErrorText(AsfError::kProtected);
        return false;
    }
    const AsfAudioStream& stream = info.audioStreams.front();
    if (std::string why = WmaStreamRefusal(stream.format); !why.empty()) {
        error_ = why;
        return false;
    }
    decoder_ = factory_();
    if (!decoder_ || !decoder_->Open(stream.format)) {
        error_ = decoder_ ? decoder_->LastError() : "no WMA decoder";
        if (error_.empty()) error_ = "the WMA stream's codec set-up is not supported";
        return false;
    }
    reader_.SelectAudioStream(0);
    return true;
}

WmaOutputFormat WmaFileDecoder::Format() const {
    WmaOutputFormat f;
    if (reader_.Info().audioStreams.empty()) return f;
    const AsfAudioFormat& s = Stream().format;
    f.channels = s.channels;
    f.sampleRate = s.sampleRate;
    f.bitsPerSample = 16;
    return f;
}

WmaPacketStatus WmaFileDecoder::NextPacket() {
    pcm_.clear();
    taken_ = 0;
    if (!decoder_) return WmaPacketStatus::kError;
    if (failed_) return WmaPacketStatus::kError;
    objects_.clear();
    const AsfPacketResult read = reader_.NextPacket(objects_);
    if (read != AsfPacketResult::kOk) {
        // The last frame's samples, held back for an overlap that does not
        // come, end the stream.
        if (!flushed_) {
            flushed_ = true;
            if (decoder_->Flush(pcm_) && !pcm_.empty()) return WmaPacketStatus::kOk;
        }
        return read == AsfPacketResult::kEndOfData ? WmaPacketStatus::kEndOfData : WmaPacketStatus::kEndOfFile;
    }
    // Each media object holds whole coded units; a short tail is not a unit.
    const size_t unit = Stream().format.blockAlign;
    for (const AsfMediaObject& object : objects_) {
        if (object.discontinuity) {
            // Data was lost: what the decoder held is given, then it starts afresh.
            decoder_->Flush(pcm_);
            decoder_->Reset();
        }
        for (size_t at = 0; at + unit <= object.bytes.size(); at += unit) {
            if (!decoder_->DecodeUnit(object.bytes.data() + at, unit, pcm_)) {
                // What decoded before the error is still given out; the
                // failure ends the stream at the next fetch.
                failed_ = true;
                error_ = decoder_->LastError();
                if (error_.empty()) error_ = "a WMA frame does not decode";
                return WmaPacketStatus::kOk;
            }
        }
    }
    return WmaPacketStatus::kOk;
}

uint32_t WmaFileDecoder::Decode(int16_t* out, uint32_t maxFrames, uint32_t* remaining) {
    const size_t channels = Stream().format.channels;
    const size_t waiting = (pcm_.size() - taken_) / channels;
    const size_t frames = std::min<size_t>(waiting, maxFrames);
    if (frames > 0) std::memcpy(out, pcm_.data() + taken_, frames * channels * sizeof(int16_t));
    taken_ += frames * channels;
    if (remaining != nullptr) *remaining = uint32_t(waiting - frames);
    return uint32_t(frames);
}

}  // namespace cz::wma
