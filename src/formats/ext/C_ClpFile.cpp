#include "formats/ext/C_ClpFile.h"

#include <algorithm>

#include "formats/ext/ExtCodecEntries.h"
#include "formats/ext/ExtLayout.h"
#include "foundation/C_CUString.h"
#include "foundation/LibraryLoader.h"

namespace cz {

S_CodecEntry LoadCodecEntry(const char* libraryName, const char* entryName, uintptr_t ownerWindow, bool showMessage) {
    S_CodecEntry e;
    e.library = LoadLibraryWithMessage(libraryName, "WaveFileUtil", ownerWindow, showMessage);
    if (!e.library) return e;
    e.entry = GetProcAddressWithMessage(e.library.get(), entryName, "WaveFileUtil", ownerWindow, showMessage);
    return e;
}

namespace {

// Reads a whole file (at most limit bytes).
bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit) {
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return false;
    bytes.clear();
    uint8_t block[1 << 14];
    for (;;) {
        size_t got = 0;
        if (!file->Read(block, sizeof block, &got)) return false;
        if (got == 0) return true;
        if (bytes.size() + got > limit) return false;
        bytes.insert(bytes.end(), block, block + got);
    }
}

}  // namespace

C_ClpFile::C_ClpFile(const char* code, const char* secondCode, uint32_t formatId, uint16_t level)
    : C_Pc8File(code, secondCode, formatId), level_(level) {}

C_ClpFile::~C_ClpFile() = default;

std::string C_ClpFile::CannotSaveReason() const {
    if (FormatType() == kFormatClp1 || FormatType() == kFormatClp2 || FormatType() == kFormatClp3)
        return FormatString("Saving %.4s files is not supported: the CLP coder is not available.", FormatCode());
    return {};
}

uint32_t C_ClpFile::GetFrameSize() { return frameSize_; }

bool C_ClpFile::EncodeToFile(const int16_t*, uint32_t, uint32_t, const std::string&) { return false; }
bool C_ClpFile::DecodeFromFile(const std::string&, uint32_t, int16_t*, uint32_t) { return false; }

bool C_ClpFile::PackFrames(const std::string& codedPath, const std::string& framesPath, uint32_t) {
    std::vector<uint8_t> coded;
    if (!ReadAll(CodedFileOf(codedPath), coded, 0x7FFFFFF0u) || coded.empty()) return false;
    std::vector<uint8_t> block(6);
    block[0] = static_cast<uint8_t>(kExtVoiceBlockTag);
    block[1] = static_cast<uint8_t>(kExtVoiceBlockTag >> 8);
    const uint32_t n = static_cast<uint32_t>(coded.size());
    for (int i = 0; i < 4; ++i) block[2 + i] = static_cast<uint8_t>(n >> (8 * i));
    block.insert(block.end(), coded.begin(), coded.end());
    auto file = platform::File::Open(framesPath, platform::open_flags::kWrite | platform::open_flags::kCreate);
    return file && file->Write(block.data(), block.size());
}

int32_t C_ClpFile::WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                               const std::vector<S_MpmSegment>& segments, const std::vector<S_MpmEventEntry>& events) {
    ClearPending();
    return C_Pc8File::WriteFrames(out, samples, segments, events);
}

bool C_ClpFile::EncodeVoice(C_MpmFrameOutput& out, const std::vector<int16_t>& samples, uint32_t start, uint32_t count,
                            uint32_t* carry) {
    const uint32_t frame = GetFrameSize();
    if (frame == 0 || start > samples.size() || count > samples.size() - start || count == 0) return false;
    const uint64_t padded64 = (uint64_t{count} + frame - 1) / frame * frame;
    if (padded64 > 0x7FFFFFFFu) return false;
    const uint32_t padded = static_cast<uint32_t>(padded64);
    const uint32_t padding = padded - count;
    // Padding borrows the samples that follow while the sound has them; past
    // its end the last sample fades linearly to zero.
    const uint32_t available = static_cast<uint32_t>(samples.size()) - start - count;
    const uint32_t borrowed = std::min(padding, available);
    std::vector<int16_t> buffer(samples.begin() + start, samples.begin() + start + count + borrowed);
    const uint32_t computed = padding - borrowed;
    const int32_t last = buffer.back();
    for (uint32_t i = 0; i < computed; ++i)
        buffer.push_back(static_cast<int16_t>(last * static_cast<int64_t>(computed - i - 1) / computed));

    const uint32_t mode = CoderMode();
    const std::string codedPath = TempName("vcd");
    const std::string packedPath = TempName("clp");
    if (codedPath.empty()) return false;
    const bool encoded = EncodeToFile(buffer.data(), padded, mode, codedPath);
    std::vector<int16_t> decoded(padded);
    const bool ok = encoded && DecodeFromFile(codedPath, mode, decoded.data(), padded);
    if (ok)
        for (int16_t s : decoded) out.Decoded(static_cast<uint16_t>(s + 32768));
    const bool packed = ok && out.Ok() && PackFrames(codedPath, packedPath, mode);
    platform::DeleteFile(codedPath);
    platform::DeleteFile(codedPath + ".fpt");
    std::vector<uint8_t> bytes;
    const bool read = packed && ReadAll(packedPath, bytes, 0x7FFFFFFFu);
    platform::DeleteFile(packedPath);
    if (!read) return false;
    out.Bytes(bytes.data(), bytes.size());
    *carry += borrowed;
    return out.Ok();
}

bool C_ClpFile::WriteSilence(uint32_t kind, uint32_t length, uint16_t value, C_MpmFrameOutput& out) {
    const bool flagged = pendingFlag_;
    if (flagged) {
        out.U8(kExtPendingRecord);
        out.U8(static_cast<uint8_t>(pendingCount_ - 1));
        out.U8(static_cast<uint8_t>(pendingValue_ >> 8));
        out.U8(static_cast<uint8_t>(((pendingValue_ & 0xFF) >> 2) & 0x3F));
        if (!out.Ok()) return false;
    }
    uint32_t run = length + pendingCount_;
    pendingFlag_ = false;
    pendingCount_ = 0;
    if (kind == 2) {
        pendingCount_ = 1;
        pendingValue_ = value;
        pendingFlag_ = true;
        run = run == 0 ? 0 : run - 1;
    }
    // A run longer than one word carries the rest; the word's run field has
    // 12 bits whatever the class allows.
    const uint32_t largest = std::min(largestRun_, kExtLongestWordRun);
    if (run > largest) {
        const uint32_t excess = run - largest;
        const uint32_t total = uint32_t{pendingCount_} + excess;
        if (total > 0xFFFF) {
            // More than a pending count holds: write the whole words now.
            uint32_t rest = total;
            while (rest > 0xFFFF) {
                out.U16(ExtSilenceWord(largest));
                rest -= largest;
            }
            pendingCount_ = static_cast<uint16_t>(rest);
        } else {
            pendingCount_ = static_cast<uint16_t>(total);
        }
        run = largest;
    }
    if (flagged || run != 0) out.U16(ExtSilenceWord(run));
    return out.Ok();
}

bool C_ClpFile::FlushPendingSilence(C_MpmFrameOutput& out) {
    // The pending run is written out as silence words (the voice that
    // follows keeps all of its samples).
    for (int guard = 0; (pendingFlag_ || pendingCount_ != 0) && guard < 64; ++guard)
        if (!WriteSilence(1, 0, 0, out)) return false;
    return out.Ok() && !pendingFlag_ && pendingCount_ == 0;
}

bool C_ClpFile::WriteEndMark(C_MpmFrameOutput& out) {
    out.U16(kExtEndMark);
    return out.Ok();
}

}  // namespace cz
