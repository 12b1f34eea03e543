// Where an MPM frame writer puts its work: the records go to the frame
// section of the output file, the reconstruction to the decoded-PCM file.
// Both are buffered and written in large pieces; every write is checked and
// a failure sticks (Ok() stays false).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz {

class C_MpmFrameOutput {
public:
    C_MpmFrameOutput(platform::File& frames, platform::File& decoded) : frames_(frames), decoded_(decoded) {}
    C_MpmFrameOutput(const C_MpmFrameOutput&) = delete;
    C_MpmFrameOutput& operator=(const C_MpmFrameOutput&) = delete;

    void U8(uint8_t v) {
        frameBuffer_.push_back(v);
        ++frameBytes_;
        FlushIfFull();
    }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void Bytes(const uint8_t* data, size_t size) {
        frameBuffer_.insert(frameBuffer_.end(), data, data + size);
        frameBytes_ += size;
        FlushIfFull();
    }
    // One reconstructed sample for the decoded-PCM section.
    void Decoded(uint16_t sample) {
        decodedBuffer_.push_back(static_cast<uint8_t>(sample));
        decodedBuffer_.push_back(static_cast<uint8_t>(sample >> 8));
        ++decodedCount_;
        FlushIfFull();
    }
    void DecodedRun(uint16_t sample, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) Decoded(sample);
    }

    // Writes what is buffered. False once any write has failed.
    bool Flush();
    bool Ok() const { return ok_; }
    uint64_t FrameBytes() const { return frameBytes_; }
    uint64_t DecodedCount() const { return decodedCount_; }
    // The last sample given to the decoded section (mid-scale before any).
    uint16_t LastDecoded() const;

private:
    static constexpr size_t kFlushSize = 1 << 16;
    void FlushIfFull() {
        if (frameBuffer_.size() >= kFlushSize || decodedBuffer_.size() >= kFlushSize) Flush();
    }

    platform::File& frames_;
    platform::File& decoded_;
    std::vector<uint8_t> frameBuffer_;
    std::vector<uint8_t> decodedBuffer_;
    uint64_t frameBytes_ = 0;
    uint64_t decodedCount_ = 0;
    uint16_t lastDecoded_ = 2048;
    bool ok_ = true;
};

// Copies bytes [offset, offset + size) of from to the current position of to.
bool CopyFileRange(platform::File& from, uint64_t offset, uint64_t size, platform::File& to);

// Removes a file when it goes out of scope, unless Keep() was called, and
// tells a temporary-path watcher it is gone (platform::CreateTempFile). Declare
// it before the File objects on that path so that they are closed first.
class C_FileRemover {
public:
    C_FileRemover() = default;
    explicit C_FileRemover(std::string path) : path_(std::move(path)) {}
    void Set(std::string path) { path_ = std::move(path); }
    ~C_FileRemover() {
        if (!keep_ && !path_.empty()) platform::DeleteFile(path_);
        if (!path_.empty()) platform::NoteTempPathReleased(path_);
    }
    C_FileRemover(const C_FileRemover&) = delete;
    C_FileRemover& operator=(const C_FileRemover&) = delete;
    void Keep() {
        keep_ = true;
        platform::NoteTempPathReleased(path_);
        path_.clear();
    }

private:
    std::string path_;
    bool keep_ = false;
};

}  // namespace cz
