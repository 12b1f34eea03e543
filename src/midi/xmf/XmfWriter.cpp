#include "midi/xmf/XmfWriter.h"

#include <array>
#include <cstring>
#include <limits>

#include "foundation/ByteArrayHeader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"

namespace cz::xmf {

namespace {

// Format identifiers of the chip resource types.
constexpr std::array<uint8_t, 19> kIdMelody = {0x80, 0x83, 0x82, 0x83, 0xBC, 0x96, 0xEB, 0xC2, 0x95, 0xB5,
                                               0xBB, 0xA6, 0xD8, 0x9A, 0x99, 0xF7, 0xB0, 0x80, 0x9D};
constexpr std::array<uint8_t, 19> kIdType2 = {0x82, 0xC8, 0x87, 0xE0, 0xF3, 0x8F, 0xC9, 0xF2, 0x8C, 0xE5,
                                              0x8E, 0xA0, 0x81, 0xFB, 0xE1, 0x87, 0xE8, 0xD3, 0x94};
constexpr std::array<uint8_t, 19> kIdMelodyWithSpeech = {0x83, 0xA0, 0xDA, 0xB2, 0xFC, 0xF3, 0xDB, 0xA2, 0xA9, 0x99,
                                                         0x98, 0xCC, 0xD6, 0x93, 0xD2, 0xA1, 0xA2, 0x98, 0xF5};
constexpr std::array<uint8_t, 19> kIdType4 = {0x81, 0xF1, 0x96, 0x9F, 0xD6, 0xDD, 0x8F, 0xC2, 0xB4, 0xA5,
                                              0xAA, 0xD9, 0xED, 0xEF, 0xCD, 0xC5, 0x9E, 0x90, 0xD2};
constexpr std::array<uint8_t, 19> kIdSpeech = {0x80, 0x89, 0xF3, 0xBB, 0x83, 0xBD, 0xA1, 0xC2, 0x9A, 0xF5,
                                               0xB5, 0xAA, 0xFE, 0x98, 0x81, 0xCD, 0xFF, 0xD0, 0xBF};
constexpr std::array<uint8_t, 19> kIdMelodyWithLyric = {0xF6, 0xFF, 0xC5, 0xF7, 0xAA, 0xBE, 0xC6, 0xD2, 0xA1, 0x82,
                                                        0x98, 0xFD, 0x8C, 0xF8, 0x8A, 0xEE, 0x98, 0xCA, 0x82};

constexpr size_t kLyricCountOffset = 11;
// Node bytes besides the length VLQ and the resource.
constexpr uint64_t kNodeFixed = 31;
// File bytes besides the two file-length VLQs and the node.
constexpr uint64_t kFileFixed = 11;

// Length of the VLQ of a value of any size (7 bits a byte).
size_t VlqSize(uint64_t value) {
    size_t n = 1;
    while (value >>= 7) ++n;
    return n;
}

void PutVlq(std::vector<uint8_t>& out, uint64_t value) {
    const size_t n = VlqSize(value);
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = static_cast<uint8_t>((value >> (7 * (n - 1 - i))) & 0x7F);
        if (i + 1 < n) b |= 0x80;
        out.push_back(b);
    }
}

// The smallest self-counting length: total = base + VLQ length of total.
uint64_t SelfSized(uint64_t base, size_t copies) {
    size_t n = VlqSize(base + copies);
    while (VlqSize(base + copies * n) != n) n = VlqSize(base + copies * n);
    return base + copies * n;
}

bool ReadWhole(const char* path, std::vector<uint8_t>& out) {
    auto file = platform::File::Open(path, platform::open_flags::kRead | platform::open_flags::kShareDenyWrite);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > std::numeric_limits<uint32_t>::max()) return false;
    out.resize(static_cast<size_t>(*size));
    return out.empty() || file->ReadExact(out.data(), out.size());
}

// Writes the bytes as the whole file at path: beside its name first, put in
// place when complete, so a failure leaves whatever had that name as it was.
bool WriteWhole(const std::string& path, const std::string_view bytes) {
    auto output = platform::AtomicOutput::Begin(path);
    if (!output) return false;
    if (!bytes.empty() && !output->Out().Write(bytes.data(), bytes.size())) return false;
    return output->Commit();
}

}  // namespace

namespace {
bool WriteHeaderFor(const std::string& outputPath, std::span<const uint8_t> bytes) {
    const std::string headerPath = CArrayHeaderPath(outputPath);
    std::string name = headerPath.substr(0, headerPath.size() - 2);
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    return WriteWhole(headerPath, CArrayHeaderText(name, bytes));
}
}  // namespace

std::optional<std::span<const uint8_t, 19>> FormatIdentifier(uint32_t type) {
    switch (type) {
        case 1: return std::span<const uint8_t, 19>(kIdMelody);
        case 2: return std::span<const uint8_t, 19>(kIdType2);
        case 3: return std::span<const uint8_t, 19>(kIdMelodyWithSpeech);
        case 4: return std::span<const uint8_t, 19>(kIdType4);
        case 5: return std::span<const uint8_t, 19>(kIdSpeech);
        case 8: return std::span<const uint8_t, 19>(kIdMelodyWithLyric);
        default: return std::nullopt;
    }
}

bool HasLyricBlock(std::span<const uint8_t> resource) {
    if (resource.size() < kLyricCountOffset + 4 || std::memcmp(resource.data(), "WKLB", 4) != 0) return false;
    const uint8_t* p = resource.data() + kLyricCountOffset;
    const uint32_t count = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return count != 0;
}

std::optional<std::vector<uint8_t>> BuildXmf(std::span<const uint8_t> resource, uint32_t type) {
    if (type == kXmfMelodyWithLyric && !HasLyricBlock(resource)) type = kXmfMelody;
    auto id = FormatIdentifier(type);
    if (!id) return std::nullopt;
    const uint64_t nodeLength = SelfSized(resource.size() + kNodeFixed, 1);
    const size_t nodeVlq = VlqSize(nodeLength);
    const uint64_t fileLength = SelfSized(kFileFixed + nodeLength, 2);
    const size_t fileVlq = VlqSize(fileLength);

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(fileLength));
    const char magic[] = "XMF_1.00";
    out.insert(out.end(), magic, magic + 8);
    PutVlq(out, fileLength);
    out.insert(out.end(), {0x02, 0x00});
    out.push_back(static_cast<uint8_t>(2 * fileVlq + 11));
    PutVlq(out, fileLength);
    PutVlq(out, nodeLength);
    out.push_back(0x00);
    out.push_back(static_cast<uint8_t>(nodeVlq + 30));
    out.insert(out.end(), {0x1A, 0x00, 0x03, 0x00, 0x16, 0x06, 0x03});
    out.insert(out.end(), id->begin(), id->end());
    out.insert(out.end(), {0x00, 0x01, 0x01});
    out.insert(out.end(), resource.begin(), resource.end());
    return out;
}

bool WriteXmf(const char* resourcePath, const char* xmfPath, uint32_t type, const char* caption) {
    if (!resourcePath || !xmfPath || !*xmfPath) return false;
    std::vector<uint8_t> resource;
    if (!ReadWhole(resourcePath, resource)) return false;
    auto xmf = BuildXmf(resource, type);
    if (!xmf) return false;
    if (!WriteWhole(xmfPath, std::string_view(reinterpret_cast<const char*>(xmf->data()), xmf->size()))) return false;
    if (!WriteHeaderFor(xmfPath, *xmf)) {
        // The XMF file is complete and stays; the call has failed all the same.
        const uint32_t error = platform::LastError();
        platform::ShowMessage(caption ? caption : kWriterCaption,
                              "The header '" + CArrayHeaderPath(xmfPath) + "' could not be written" +
                                  (error ? ": " + platform::ErrorText(error) : std::string(".")) + " The XMF file '" +
                                  xmfPath + "' was written without it.");
        return false;
    }
    return true;
}

std::string CArrayHeaderPath(const std::string& outputPath) {
    const size_t slash = outputPath.find_last_of("\\/:");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = outputPath.substr(nameStart);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name)
        if (c == '.') c = '_';
    return outputPath.substr(0, nameStart) + name + ".h";
}

std::string CArrayHeaderText(const std::string& name, std::span<const uint8_t> bytes) {
    byte_array::HeaderText text(byte_array::Style::kPlain, name, bytes.size());
    text.Add(bytes.data(), bytes.size());
    text.End();
    return text.Take();
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>& out) { return path && *path && ReadWhole(path, out); }

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
    return WriteWhole(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool WriteCArrayHeader(const char* outputPath) {
    if (!outputPath || !*outputPath) return false;
    std::vector<uint8_t> bytes;
    if (!ReadWhole(outputPath, bytes)) return false;
    return WriteHeaderFor(outputPath, bytes);
}

}  // namespace cz::xmf
