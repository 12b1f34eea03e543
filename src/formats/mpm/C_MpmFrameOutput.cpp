#include "formats/mpm/C_MpmFrameOutput.h"

#include <algorithm>

namespace cz {

uint16_t C_MpmFrameOutput::LastDecoded() const {
    if (decodedBuffer_.size() >= 2) {
        const size_t n = decodedBuffer_.size();
        return static_cast<uint16_t>(decodedBuffer_[n - 2] | (decodedBuffer_[n - 1] << 8));
    }
    return lastDecoded_;
}

bool C_MpmFrameOutput::Flush() {
    if (!frameBuffer_.empty()) {
        if (ok_ && !frames_.Write(frameBuffer_.data(), frameBuffer_.size())) ok_ = false;
        frameBuffer_.clear();
    }
    if (!decodedBuffer_.empty()) {
        const size_t n = decodedBuffer_.size();
        lastDecoded_ = static_cast<uint16_t>(decodedBuffer_[n - 2] | (decodedBuffer_[n - 1] << 8));
        if (ok_ && !decoded_.Write(decodedBuffer_.data(), n)) ok_ = false;
        decodedBuffer_.clear();
    }
    return ok_;
}

bool CopyFileRange(platform::File& from, uint64_t offset, uint64_t size, platform::File& to) {
    if (!from.Seek(static_cast<int64_t>(offset), platform::SeekOrigin::kBegin)) return false;
    std::vector<uint8_t> chunk(1 << 16);
    while (size > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, chunk.size()));
        if (!from.ReadExact(chunk.data(), n) || !to.Write(chunk.data(), n)) return false;
        size -= n;
    }
    return true;
}

}  // namespace cz
