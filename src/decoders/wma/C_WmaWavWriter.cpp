// WAV writer of the WMA conversion.
#include "decoders/wma/C_WmaWavWriter.h"

#include <cstring>

namespace cz::wma {

namespace {

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, uint16_t(v));
    Put16(p + 2, uint16_t(v >> 16));
}

}  // namespace

C_WmaWavWriter::~C_WmaWavWriter() { Abandon(); }

uint32_t C_WmaWavWriter::FormatLength(const WmaWavFormatRecord& record) {
    const bool plain = record.extraSize == 0 && record.format.formatTag != kWaveTagExtensible;
    return plain ? 18u : 40u;
}

bool C_WmaWavWriter::Open(const std::string& path, const WmaWavFormatRecord& record) {
    Abandon();
    output_ = platform::AtomicOutput::Begin(path);
    if (!output_) return false;
    if (!WriteHeader(record)) {
        Abandon();
        return false;
    }
    return true;
}

bool C_WmaWavWriter::OpenMemory(std::vector<uint8_t>* target, const WmaWavFormatRecord& record) {
    Abandon();
    if (target == nullptr) return false;
    memory_ = target;
    memory_->clear();
    return WriteHeader(record);
}

// "RIFF", 0, "WAVE", "fmt ", the format length, the record, "data", 0.
bool C_WmaWavWriter::WriteHeader(const WmaWavFormatRecord& record) {
    const uint32_t formatLength = FormatLength(record);
    uint8_t header[12 + 8 + 40 + 8] = {};
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    Put32(header + 16, formatLength);
    uint8_t* f = header + 20;
    Put16(f, record.format.formatTag);
    Put16(f + 2, record.format.channels);
    Put32(f + 4, record.format.sampleRate);
    Put32(f + 8, record.format.bytesPerSecond);
    Put16(f + 12, record.format.blockAlign);
    Put16(f + 14, record.format.bitsPerSample);
    Put16(f + 16, formatLength == 18 ? 0 : 22);
    if (formatLength == 40) std::memcpy(f + 18, record.extension.data(), record.extension.size());
    std::memcpy(header + 20 + formatLength, "data", 4);
    dataSizeAt_ = 20 + formatLength + 4;
    dataStart_ = dataSizeAt_ + 4;
    dataBytes_ = 0;
    blockAlign_ = record.format.blockAlign ? record.format.blockAlign : 1;
    return Put(header, dataStart_);
}

bool C_WmaWavWriter::Write(const void* bytes, size_t count) {
    if (!output_ && memory_ == nullptr) return false;
    count -= count % blockAlign_;
    // The sizes are 32-bit fields: a file that would pass 4 GiB is an error.
    if (uint64_t(dataStart_) + dataBytes_ + count > 0xFFFFFFFFu) return false;
    if (count == 0) return true;
    if (!Put(bytes, count)) return false;
    dataBytes_ += uint32_t(count);
    return true;
}

bool C_WmaWavWriter::Put(const void* bytes, size_t count) {
    if (output_) return output_->Out().Write(bytes, count);
    if (memory_ == nullptr) return false;
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    memory_->insert(memory_->end(), b, b + count);
    return true;
}

bool C_WmaWavWriter::PatchU32(uint64_t at, uint32_t value) {
    uint8_t bytes[4];
    Put32(bytes, value);
    if (memory_ != nullptr) {
        if (at + 4 > memory_->size()) return false;
        std::memcpy(memory_->data() + at, bytes, 4);
        return true;
    }
    platform::File& file = output_->Out();
    return file.Seek(int64_t(at), platform::SeekOrigin::kBegin) && file.Write(bytes, 4);
}

bool C_WmaWavWriter::Close() {
    if (!output_ && memory_ == nullptr) return false;
    bool ok = PatchU32(dataSizeAt_, dataBytes_) && PatchU32(4, dataStart_ + dataBytes_ - 8);
    if (output_) {
        ok = ok && output_->Out().Flush() && output_->Commit();
        output_.reset();  // an uncommitted file is removed here
    }
    memory_ = nullptr;
    return ok;
}

void C_WmaWavWriter::Abandon() {
    output_.reset();
    memory_ = nullptr;
}

}  // namespace cz::wma
