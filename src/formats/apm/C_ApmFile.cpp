#include "formats/apm/C_ApmFile.h"

#include <algorithm>
#include <cstring>

#include "foundation/ByteReader.h"
#include "foundation/C_CUString.h"
#include "foundation/SoundRate.h"

namespace cz {

namespace {

// Silence length in milliseconds as a detection length in samples. The
// save-time silence length T is in milliseconds, as the header field that
// keeps it says; the detection counts samples, so T is converted here.
uint32_t MsToSamples(uint32_t ms, uint32_t rate) {
    return static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(ms) * rate / 1000, 0xFFFFFFFFull));
}

void CopyDetected(C_SilenceSegmentList* detected, C_SilenceSegmentList& to) {
    if (!detected) return;
    for (const C_SilenceSegment* s : *detected) to.Add(std::make_unique<C_SilenceSegment>(s->GetStart(), s->GetEnd()));
}

struct S_SilenceSettings {
    uint32_t level = C_ApmFile::kDefaultSilenceLevel;
    uint32_t lengthMs = C_ApmFile::kDefaultSilenceMs;
};

// The sound's silence segments as the file keeps them, and the settings that
// go into the header. The write parameters may replace the default level
// and length. A sound without segments gets those the detection finds; one
// that had some, or settings outside the defaults, also gets those found
// with the defaults, merged in.
S_SilenceSettings SettleSilenceSegments(C_WavData& sound, uint32_t rate) {
    S_SilenceSettings settings;
    C_WriteWavParam* param = sound.GetWriteParam();
    if (param->HasRange()) param->GetRange(&settings.lengthMs, &settings.level);
    C_SilenceSegmentList& segments = sound.SilenceSegments();
    if (segments.GetCount() == 0) sound.BuildSilenceSegments();
    const bool existed = segments.GetCount() > 0;
    if (!existed) CopyDetected(sound.DetectSilenceAll(settings.level, MsToSamples(settings.lengthMs, rate)), segments);
    if (existed || settings.level == 0 || settings.lengthMs > C_ApmFile::kDefaultSilenceMs) {
        C_SilenceSegmentList kept, found, merged;
        sound.CopySegments(segments, kept);
        CopyDetected(
            sound.DetectSilenceAll(C_ApmFile::kDefaultSilenceLevel, MsToSamples(C_ApmFile::kDefaultSilenceMs, rate)),
            found);
        sound.MergeSegments(kept, found, merged);
        segments.Clear();
        sound.CopySegments(merged, segments);
    }
    return settings;
}

std::vector<S_ApmSilence> SilenceEntries(const C_SilenceSegmentList& segments) {
    std::vector<S_ApmSilence> entries;
    for (const C_SilenceSegment* s : segments) entries.push_back({s->GetStart(), s->GetEnd()});
    return entries;
}

std::vector<S_ApmEvent> EventEntries(const C_ActionEventList& events) {
    std::vector<S_ApmEvent> entries;
    for (const C_ActionEvent* e : events) {
        entries.push_back(
            {e->GetSamplePos(), static_cast<uint16_t>(e->GetType()), static_cast<uint16_t>(e->GetParam())});
    }
    return entries;
}

// The whole file: header, the four sections, and the metadata when the
// header's flag says so.
std::vector<uint8_t> SerializeApmFile(const S_ApmHeader& h, const std::vector<uint8_t>& codes,
                                      const std::vector<uint16_t>& decoded, const std::vector<uint8_t>& trace,
                                      const std::vector<uint16_t>& samples, const std::vector<S_ApmSilence>& silences,
                                      const std::vector<S_ApmEvent>& events) {
    ByteWriter w;
    w.Data().reserve(h.fileSize);
    BuildApmHeader(w, h);
    w.Bytes(codes.data(), codes.size());
    for (uint16_t v : decoded) w.U16(v);
    w.Bytes(trace.data(), trace.size());
    for (uint16_t v : samples) w.U16(v);
    if (h.metadataFlag) {
        const S_ApmMetadataPlaces at = PlaceApmMetadata(h.metadataOffset, silences.size(), events.size());
        BuildApmWcmd(w, at.wcmd, silences.size());
        BuildApmSilenceBlock(w, at.silenceBlock, silences);
        BuildApmEventBlock(w, at.eventBlock, events);
    }
    return std::move(w.Data());
}

}  // namespace

C_ApmFile::C_ApmFile() : C_ApmFile("WAPM", kFormatApm, 4, 0) {}

C_ApmFile::C_ApmFile(const char* code, uint32_t typeCode, uint8_t codeWidth, uint16_t coderId)
    : typeCode_(typeCode), codeWidth_(codeWidth), coderId_(coderId) {
    std::memcpy(code_, code, 4);
}

C_ApmFile::~C_ApmFile() = default;

std::unique_ptr<C_ADPCMEncDec> C_ApmFile::CreateCoder() const { return std::make_unique<C_ADPCMEncDec>(12, 64); }

uint32_t C_ApmFile::CodeBytes(uint32_t codeCount) const { return codeCount / 2 + (codeCount & 1u); }

bool C_ApmFile::PrepareSamples(C_WavData& sound, std::vector<uint16_t>& words) const {
    return ChipSampleWords(sound, words, sampleWidth_);
}

bool C_ApmFile::AcceptsHeader(const S_ApmHeader& header) const {
    return std::memcmp(header.code, code_, 4) == 0 && header.coderId == coderId_;
}

bool C_ApmFile::CheckMetadataLayout(InputStream& stream, const S_ApmHeader& h, uint64_t fileSize) {
    const uint64_t p = h.metadataOffset;
    uint8_t wcmdBytes[kApmWcmdHeaderSize];
    uint8_t silenceBytes[kApmSilenceHeaderSize];
    uint8_t eventBytes[kApmEventHeaderSize];
    if (p + kApmMetadataFixed > fileSize || !stream.ReadExactAt(p, wcmdBytes, sizeof wcmdBytes) ||
        !stream.ReadExactAt(p + kApmWcmdHeaderSize, silenceBytes, sizeof silenceBytes))
        return false;
    // Every block sits where the writer puts it, the last entry ending the file.
    const S_ApmWcmd wcmd = ParseApmWcmd(wcmdBytes);
    const S_ApmTableHeader silence = ParseApmSilenceHeader(silenceBytes);
    const S_ApmMetadataPlaces at = PlaceApmMetadata(p, silence.count, 0);
    if (std::memcmp(wcmd.code, "WCMD", 4) != 0 || wcmd.headerSize != kApmWcmdHeaderSize ||
        wcmd.silenceOffset != at.silenceBlock)
        return false;
    if (std::memcmp(silence.code, "WSIL", 4) != 0 || silence.headerSize != kApmSilenceHeaderSize ||
        silence.entrySize != kApmEntrySize || silence.firstEntry != at.silenceEntries)
        return false;
    if (wcmd.eventOffset != at.eventBlock || at.eventEntries > fileSize ||
        !stream.ReadExactAt(at.eventBlock, eventBytes, sizeof eventBytes))
        return false;
    const S_ApmTableHeader events = ParseApmEventHeader(eventBytes);
    if (events.headerSize != kApmEventHeaderSize || events.entrySize != kApmEntrySize ||
        events.firstEntry != at.eventEntries)
        return false;
    return PlaceApmMetadata(p, silence.count, events.count).end == fileSize;
}

int32_t C_ApmFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) {
    SetError(WavFileError::kNone);
    SetStream(stream);
    if (outFlags) *outFlags = 0;
    std::array<uint8_t, kApmHeaderSize> raw{};
    if (!stream || !stream->ReadExactAt(0, raw.data(), raw.size())) {
        // A file that starts with our code but ends inside the header is
        // ours, cut short.
        uint8_t code[4];
        const bool ours = stream && stream->ReadExactAt(0, code, sizeof code) && std::memcmp(code, code_, 4) == 0;
        return Fail(ours ? WavFileError::kTruncated : WavFileError::kNotThisFormat);
    }
    const S_ApmHeader h = ParseApmHeader(raw.data());
    if (!AcceptsHeader(h)) {
        return Fail(WavFileError::kNotThisFormat);
    }
    if (h.headerSize != kApmHeaderSize || h.channels != 1 || h.rate == 0 || h.codeWidth != codeWidth_)
        return Fail(WavFileError::kBadFormat);
    if (!AcceptSoundRate(h.rate, "The APM file")) return Fail(WavFileError::kBadFormat);
    // The sections must follow one another exactly as the writer lays them
    // out, and end inside the file: every size below comes from the file, so
    // nothing is read or allocated beyond what the file holds.
    const uint64_t n = h.codes.count;
    const uint64_t m = h.source.count;
    const S_ApmSectionPlaces at = PlaceApmSections(CodeBytes(h.codes.count), n, m);
    if (n == 0 || m == 0 || h.codes.bits != codeWidth_ || h.codes.offset != at.codes ||
        h.decoded.bits != kApmDecodedBits || h.decoded.offset != at.decoded || h.decoded.count != n ||
        h.trace.bits != kApmTraceBits || h.trace.offset != at.trace || h.trace.count != n ||
        h.source.bits != kApmSourceBits || h.source.offset != at.source || h.metadataOffset != at.metadata)
        return Fail(WavFileError::kBadFormat);
    const uint64_t fileSize = h.fileSize;
    if (fileSize > stream->Size()) return Fail(WavFileError::kTruncated);
    if (h.metadataFlag == 0 ? fileSize != at.metadata : !CheckMetadataLayout(*stream, h, fileSize))
        return Fail(WavFileError::kBadMetadata);

    apm_ = h;
    rawHeader_ = raw;
    SetDataOffset(h.source.offset);
    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        sound->SetFormat(h.rate, static_cast<uint32_t>(2 * m), h.channels, 12, 16, 0);
        SetFormatId(typeCode_);
    }
    return 1;
}

int32_t C_ApmFile::DecodeCodes() {
    C_WavData* sound = Sound();
    if (!sound || !Stream()) {
        return Fail(WavFileError::kNoSound);
    }
    const uint32_t n = apm_.codes.count;
    std::vector<uint8_t> codes;
    if (!Stream()->ReadBytes(apm_.codes.offset, CodeBytes(n), codes)) {
        return Fail(WavFileError::kTruncated);
    }
    // One decoded sample per code.
    std::vector<uint16_t> decoded(n);
    std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
    const uint32_t bytes = coder->Decode(codes.data(), static_cast<uint32_t>(codes.size()), decoded.data(),
                                         static_cast<uint32_t>(2ull * n), nullptr);
    if (bytes == 0) {
        return Fail(WavFileError::kBadSampleData);
    }
    std::vector<uint8_t> le(bytes);
    for (uint32_t i = 0; i < bytes / 2; ++i) StoreU16(&le[2 * i], decoded[i]);
    sound->SetFormat(apm_.rate, bytes, 1, 12, 16, 0);
    sound->SetSampleData(le.data(), bytes);
    return 1;
}

int32_t C_ApmFile::LoadSamples(uint32_t flag) {
    if (!Sound()) {
        return Fail(WavFileError::kNoSound);
    }
    if (!(flag == 0 ? DecodeCodes() : LoadSampleWords(apm_.source.count, false))) return 0;
    return apm_.metadataFlag ? ReadMetadata() : 1;
}

int32_t C_ApmFile::ReadMetadata() {
    C_WavData* sound = Sound();
    InputStream* stream = Stream();
    const uint64_t p = apm_.metadataOffset;
    uint8_t silenceBytes[kApmSilenceHeaderSize];
    if (!stream->ReadExactAt(p + kApmWcmdHeaderSize, silenceBytes, sizeof silenceBytes)) {
        return Fail(WavFileError::kBadMetadata);
    }
    const uint32_t silenceCount = ParseApmSilenceHeader(silenceBytes).count;
    const S_ApmMetadataPlaces at = PlaceApmMetadata(p, silenceCount, 0);
    uint8_t eventBytes[kApmEventHeaderSize];
    std::vector<uint8_t> silence, events;
    if (!stream->ReadBytes(at.silenceEntries, static_cast<size_t>(kApmEntrySize) * silenceCount, silence) ||
        !stream->ReadExactAt(at.eventBlock, eventBytes, sizeof eventBytes) ||
        !stream->ReadBytes(at.eventEntries, static_cast<size_t>(kApmEntrySize) * ParseApmEventHeader(eventBytes).count,
                           events)) {
        return Fail(WavFileError::kBadMetadata);
    }
    C_SilenceSegmentList& segments = sound->SilenceSegments();
    segments.Clear();
    for (size_t i = 0; i < silence.size(); i += kApmEntrySize) {
        const S_ApmSilence entry = ParseApmSilenceEntry(&silence[i]);
        if (entry.last < entry.first) {
            segments.Clear();
            return Fail(WavFileError::kBadMetadata);
        }
        segments.Add(std::make_unique<C_SilenceSegment>(entry.first, entry.last));
    }
    C_ActionEventMgr* manager = sound->GetActionEventMgr();
    manager->SetSampleRate(sound->GetWavInfo()->GetSampleRate());
    for (size_t i = 0; i < events.size(); i += kApmEntrySize) {
        const S_ApmEvent entry = ParseApmEventEntry(&events[i]);
        manager->AddEventAtSample(entry.type, entry.sample, nullptr, entry.param);
    }
    return 1;
}

// Save, step by step: code the sound, settle its silence segments, lay out
// the header, serialize the file, write it. Everything that can fail happens
// before the file is created.
int32_t C_ApmFile::Save(const char* path) {
    C_WavData* sound = Sound();
    if (!sound || !path) return 0;
    const uint32_t mode = sound->GetWriteParam()->GetCodecParam();
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    if (rate == 0 || rate > 0xFFFF) return 0;

    // The silence is found on the samples before they are coded: a sound
    // held only for its save gives its samples to the coder.
    const S_SilenceSettings silence = SettleSilenceSegments(*sound, rate);
    S_CodedSound coded;
    if (!CodeSound(*sound, mode, coded)) return 0;
    const std::vector<S_ApmSilence> silences = SilenceEntries(sound->SilenceSegments());
    const std::vector<S_ApmEvent> events = EventEntries(sound->GetActionEventMgr()->Events());
    S_ApmHeader h;
    if (!LayOutHeader(coded, rate, mode, silence.level, silence.lengthMs, silences.size(), events.size(), h)) return 0;
    const std::vector<uint8_t> bytes =
        SerializeApmFile(h, coded.codes, coded.decoded, coded.trace, coded.samples, silences, events);
    if (bytes.size() != h.fileSize) return 0;
    return WriteNewFile(path, bytes) ? 1 : 0;
}

bool C_ApmFile::CodeSound(C_WavData& sound, uint32_t mode, S_CodedSound& coded) const {
    if (!PrepareSamples(sound, coded.samples)) return false;
    const uint32_t m = static_cast<uint32_t>(coded.samples.size());
    std::unique_ptr<C_ADPCMEncDec> coder = CreateCoder();
    if (const C_WriteWavParam* param = sound.GetWriteParam())
        coder->SetSearchEffort(static_cast<AdpcmEffort>(std::min<uint8_t>(param->GetSearchEffort(), 3)));
    const uint32_t capacity = coder->GetMaxEncodedSize(m, mode);
    if (capacity == 0) return false;
    coded.codes.resize(capacity);
    const uint32_t k = coder->Encode(m, coded.samples.data(), coded.codes.data(), capacity, mode, nullptr);
    if (k == 0 || k > capacity) return false;
    coded.codes.resize(k);
    // The trace holds one step index per code: its length is the code count.
    const uint32_t n = coder->GetStepIndexTraceSize();
    const uint8_t* trace = coder->GetStepIndexTrace();
    if (n == 0 || !trace || CodeBytes(n) != k) return false;
    coded.trace.assign(trace, trace + n);
    coded.decoded.resize(n);
    return coder->Decode(coded.codes.data(), k, coded.decoded.data(), 2 * n, nullptr) == 2 * n;
}

bool C_ApmFile::LayOutHeader(const S_CodedSound& coded, uint32_t rate, uint32_t mode, uint32_t silenceLevel,
                             uint32_t silenceMs, uint64_t silenceCount, uint64_t eventCount, S_ApmHeader& h) const {
    const uint32_t k = static_cast<uint32_t>(coded.codes.size());
    const uint32_t n = static_cast<uint32_t>(coded.decoded.size());
    const uint32_t m = static_cast<uint32_t>(coded.samples.size());
    const bool metadata = silenceCount > 0 || eventCount > 0;
    const S_ApmSectionPlaces at = PlaceApmSections(k, n, m);
    const uint64_t total = metadata ? PlaceApmMetadata(at.metadata, silenceCount, eventCount).end : at.metadata;
    if (total > 0xFFFFFFFFull) return false;
    std::memcpy(h.code, code_, 4);
    h.version = kApmVersion;
    h.headerSize = kApmHeaderSize;
    h.channels = 1;
    h.codeWidth = codeWidth_;
    h.rate = static_cast<uint16_t>(rate);
    h.cutOff = CutOffFrequency(rate);
    h.coderId = coderId_;
    // Coding modes 1 and 3 start the code stream with a lead-in.
    const bool leadIn = mode != kAdpcmFlushMode4 && (mode & kAdpcmLeadInBit) != 0;
    h.initialValue = leadIn ? 0 : 0x800;
    h.codes = {codeWidth_, static_cast<uint32_t>(at.codes), n};
    h.decoded = {kApmDecodedBits, static_cast<uint32_t>(at.decoded), n};
    h.trace = {kApmTraceBits, static_cast<uint32_t>(at.trace), n};
    h.source = {kApmSourceBits, static_cast<uint32_t>(at.source), m};
    h.fileSize = static_cast<uint32_t>(total);
    h.metadataFlag = metadata ? 1 : 0;
    h.metadataOffset = static_cast<uint32_t>(at.metadata);
    h.silenceLevel = static_cast<uint16_t>(std::min<uint32_t>(silenceLevel, 0xFFFF));
    h.silenceMs = static_cast<uint16_t>(std::min<uint32_t>(silenceMs, 0xFFFF));
    h.tail = kApmTailValue;
    return true;
}

std::string C_ApmFile::HeaderSummary() const {
    const S_ApmHeader& h = apm_;
    std::string text =
        FormatString("format: %.4s, version 0x%X, %u-bit codes, coder %s\n", h.code, static_cast<unsigned>(h.version),
                     static_cast<unsigned>(h.codeWidth), h.coderId == 1 ? "new" : "classic");
    text += FormatString("rate: %u Hz, cut-off %u Hz, file size %u\n", static_cast<unsigned>(h.rate),
                         static_cast<unsigned>(h.cutOff), static_cast<unsigned>(h.fileSize));
    text += FormatString("codes: %u at %u (%u bytes), lead-in: %s\n", static_cast<unsigned>(h.codes.count),
                         static_cast<unsigned>(h.codes.offset), static_cast<unsigned>(CodeBytes(h.codes.count)),
                         h.initialValue == 0 ? "yes" : "no");
    text += FormatString("decoded: %u at %u, trace: %u at %u, source: %u at %u\n",
                         static_cast<unsigned>(h.decoded.count), static_cast<unsigned>(h.decoded.offset),
                         static_cast<unsigned>(h.trace.count), static_cast<unsigned>(h.trace.offset),
                         static_cast<unsigned>(h.source.count), static_cast<unsigned>(h.source.offset));
    text +=
        FormatString("silence settings: level %u, length %u ms; metadata: %s\n", static_cast<unsigned>(h.silenceLevel),
                     static_cast<unsigned>(h.silenceMs), h.metadataFlag ? "yes" : "no");
    return text;
}

}  // namespace cz
