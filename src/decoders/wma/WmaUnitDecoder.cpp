// The frame decoder behind I_WmaUnitDecoder.
#include "decoders/wma/WmaUnitDecoder.h"

#if __has_include("decoders/wma/WmaDecoder.h")
#include "decoders/wma/WmaDecoder.h"
#define CZ_HAVE_WMA_DECODER 1
#endif

namespace cz::wma {

namespace {

#if defined(CZ_HAVE_WMA_DECODER)
class FrameDecoder final : public I_WmaUnitDecoder {
public:
    bool Open(const AsfAudioFormat& f) override {
        WmaStreamFormat format;
        format.formatTag = f.formatTag;
        format.channels = f.channels;
        format.sampleRate = f.sampleRate;
        format.avgBytesPerSecond = f.avgBytesPerSecond;
        format.blockAlign = f.blockAlign;
        format.bitsPerSample = f.bitsPerSample;
        format.extra = f.extra;
        return decoder_.Open(format);
    }
    bool DecodeUnit(const uint8_t* data, size_t size, std::vector<int16_t>& out) override {
        return decoder_.DecodeUnit(data, size, out);
    }
    bool Flush(std::vector<int16_t>& out) override { return decoder_.Flush(out); }
    void Reset() override { decoder_.Reset(); }
    const char* LastError() const override { return decoder_.LastError(); }

private:
    WmaDecoder decoder_;
};
#else
// Built without the frame decoder: every stream is refused.
class FrameDecoder final : public I_WmaUnitDecoder {
public:
    bool Open(const AsfAudioFormat&) override { return false; }
    bool DecodeUnit(const uint8_t*, size_t, std::vector<int16_t>&) override { return false; }
    void Reset() override {}
    const char* LastError() const override { return "this build has no WMA frame decoder"; }
};
#endif

}  // namespace

std::unique_ptr<I_WmaUnitDecoder> MakeWmaUnitDecoder() { return std::make_unique<FrameDecoder>(); }

}  // namespace cz::wma
