#include "foundation/InputStream.h"

#include <cstring>

#include "platform/Platform.h"

namespace cz {

namespace {

class FileInputStream final : public InputStream {
public:
    FileInputStream(platform::File file, uint64_t size) : file_(std::move(file)), size_(size) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        if (offset >= size_) return true;
        if (position_ != offset) {
            if (!file_.Seek(static_cast<int64_t>(offset), platform::SeekOrigin::kBegin)) return false;
            position_ = offset;
        }
        if (!file_.Read(buffer, size, got)) {
            position_ = UINT64_MAX;
            return false;
        }
        position_ += *got;
        return true;
    }
    uint64_t Size() const override { return size_; }

private:
    platform::File file_;
    uint64_t size_;
    uint64_t position_ = 0;
};

class MemoryInputStream final : public InputStream {
public:
    explicit MemoryInputStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        if (offset >= bytes_.size()) return true;
        size_t n = static_cast<size_t>(bytes_.size() - offset);
        if (n > size) n = size;
        if (n) std::memcpy(buffer, bytes_.data() + offset, n);
        *got = n;
        return true;
    }
    uint64_t Size() const override { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace

bool InputStream::ReadBytes(uint64_t offset, size_t size, std::vector<uint8_t>& out) {
    if (offset > Size() || size > Size() - offset) return false;
    out.resize(size);
    return size == 0 || ReadExactAt(offset, out.data(), size);
}

std::shared_ptr<InputStream> InputStream::OpenFile(const std::string& path) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return nullptr;
    auto size = file->Size();
    if (!size) return nullptr;
    return std::make_shared<FileInputStream>(std::move(*file), *size);
}

std::shared_ptr<InputStream> InputStream::FromMemory(std::vector<uint8_t> bytes) {
    return std::make_shared<MemoryInputStream>(std::move(bytes));
}

std::shared_ptr<InputStream> InputStream::FromMemory(const uint8_t* data, size_t size) {
    return std::make_shared<MemoryInputStream>(std::vector<uint8_t>(data, data + size));
}

}  // namespace cz
