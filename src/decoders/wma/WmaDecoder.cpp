#include "decoders/wma/WmaDecoder.h"

namespace cz::wma {

struct WmaDecoder::State {
    const char* error = "";
    uint32_t frameLength = 0;
};

WmaDecoder::WmaDecoder() : state_(std::make_unique<State>()) {}
WmaDecoder::~WmaDecoder() = default;

bool WmaDecoder::Open(const WmaStreamFormat&) {
    state_->error = "WMA decoding is not available yet";
    return false;
}

bool WmaDecoder::DecodeUnit(const uint8_t*, size_t, std::vector<int16_t>&) {
    state_->error = "decoder not open";
    return false;
}

void WmaDecoder::Reset() {}

const char* WmaDecoder::LastError() const { return state_->error; }

uint32_t WmaDecoder::FrameLength() const { return state_->frameLength; }

}  // namespace cz::wma
