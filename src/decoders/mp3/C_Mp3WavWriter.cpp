// Streaming WAV writer of the MP3 driver.
#include "decoders/mp3/C_Mp3WavWriter.h"

#include <cstring>

namespace cz::mp3 {

// A file not finished with Close is dropped: its name stays as it was.
C_Mp3WavWriter::~C_Mp3WavWriter() { Abandon(); }

bool C_Mp3WavWriter::Open(const std::string& path) {
    Close();
    // Written beside the name and put in place by Close: a failed or
    // abandoned conversion leaves the name as it was.
    output_ = platform::AtomicOutput::Begin(path);
    if (!output_) {
        return false;
    }
    file_ = &output_->Out();
    bool ok = Write("RIFF", 4);
    riffSizePosition_ = 4;
    ok = ok && WriteU32(0) && Write("WAVE", 4);
    if (!ok) Abandon();
    return ok;
}

bool C_Mp3WavWriter::OpenMemory(std::vector<uint8_t>* target) {
    Close();
    if (target == nullptr) {
        return false;
    }
    memory_ = target;
    memory_->clear();
    memoryPosition_ = 0;
    bool ok = Write("RIFF", 4);
    riffSizePosition_ = 4;
    ok = ok && WriteU32(0) && Write("WAVE", 4);
    return ok;
}

bool C_Mp3WavWriter::WriteFormat(const FormatRecord& format) {
    uint8_t record[16];
    auto put16 = [&](int at, uint16_t v) {
        record[at] = uint8_t(v);
        record[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](int at, uint32_t v) {
        put16(at, uint16_t(v));
        put16(at + 2, uint16_t(v >> 16));
    };
    put16(0, format.formatTag);
    put16(2, format.channels);
    put32(4, format.sampleRate);
    put32(8, format.bytesPerSecond);
    put16(12, format.blockAlign);
    put16(14, format.bitsPerSample);
    if (!Write("fmt ", 4) || !WriteU32(16) || !Write(record, sizeof record) || !Write("data", 4)) {
        return false;
    }
    dataSizePosition_ = 40;
    return WriteU32(0);
}

bool C_Mp3WavWriter::WriteSamples(const void* bytes, uint32_t count) {
    if (count == 0 || bytes == nullptr) {
        return false;
    }
    return Write(bytes, count);
}

bool C_Mp3WavWriter::Close() {
    if (!IsOpen()) {
        return true;
    }
    bool ok = true;
    std::optional<uint64_t> end = Position();
    if (end && *end > riffSizePosition_ && *end > dataSizePosition_ && *end <= 0xFFFFFFFFu) {
        const uint32_t p = uint32_t(*end);
        ok = SeekTo(riffSizePosition_) && WriteU32(p - riffSizePosition_ - 4);
        if (ok && dataSizePosition_ != 0) {
            ok = SeekTo(dataSizePosition_) && WriteU32(p - dataSizePosition_ - 4);
        }
    }
    if (output_) {
        ok = ok ? output_->Commit() : false;
        output_.reset();  // an uncommitted temporary file is removed here
        file_ = nullptr;
    }
    memory_ = nullptr;
    riffSizePosition_ = 0;
    dataSizePosition_ = 0;
    return ok;
}

void C_Mp3WavWriter::Abandon() {
    if (output_) {
        output_.reset();
        file_ = nullptr;
        riffSizePosition_ = 0;
        dataSizePosition_ = 0;
        return;
    }
    Close();
}

bool C_Mp3WavWriter::Write(const void* bytes, size_t count) {
    if (file_) {
        return file_->Write(bytes, count);
    }
    if (memory_ == nullptr) {
        return false;
    }
    if (memoryPosition_ + count > memory_->size()) {
        memory_->resize(size_t(memoryPosition_ + count));
    }
    std::memcpy(memory_->data() + memoryPosition_, bytes, count);
    memoryPosition_ += count;
    return true;
}

bool C_Mp3WavWriter::WriteU32(uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return Write(bytes, 4);
}

std::optional<uint64_t> C_Mp3WavWriter::Position() {
    if (file_) {
        return file_->Position();
    }
    if (memory_ != nullptr) {
        return memoryPosition_;
    }
    return std::nullopt;
}

bool C_Mp3WavWriter::SeekTo(uint64_t position) {
    if (file_) {
        return file_->Seek(int64_t(position), platform::SeekOrigin::kBegin);
    }
    if (memory_ == nullptr || position > memory_->size()) {
        return false;
    }
    memoryPosition_ = position;
    return true;
}

}  // namespace cz::mp3
