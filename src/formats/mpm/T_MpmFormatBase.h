// The frame-based MPM container, written over a speech-file base class
// (C_SrcFile, or a class derived from it). The derived format writes only
// the frame section's records (WriteFrames); this base writes everything
// around them: the main header, the "MFRM" header, the decoded and source
// PCM sections and the "MCMD" and "WSIL" blocks (layout in MpmLayout.h).
//
// Opened, an MPM file is a sound of its source PCM (the samples that were
// coded), with the "MCMD" entries as action events and the "WSIL" entries as
// silence segments. The frame section is not decoded on load.
//
// While the frames are written, their reconstruction collects in a temporary
// file in the system temporary folder (a 22-byte "WPCM" header of version 99,
// then 16-bit words); it is removed on every path out of Save.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/mpm/C_MpmFrameOutput.h"
#include "formats/mpm/MpmLayout.h"
#include "foundation/ByteReader.h"
#include "foundation/C_CUString.h"
#include "foundation/SoundRate.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace cz {

template <typename Base>
class T_MpmFormatBase : public Base {
public:
    // code: the format code written into (and required in) the header;
    // secondCode: the code of the format's resource data.
    T_MpmFormatBase(const char* code, const char* secondCode) {
        std::memcpy(code_, code, 4);
        std::memcpy(secondCode_, secondCode, 4);
    }
    ~T_MpmFormatBase() override = default;

    // Reads the 62-byte header, requires the format code (or the accepted
    // alternative), checks every section against the file size, requires the
    // "MCMD" and "WSIL" block headers, and with loadFlag describes the sound
    // as the source PCM section (rate, count x 2 bytes, channels, the decoded
    // section's bits, 16-bit words, offset-binary).
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override {
        this->SetError(WavFileError::kNone);
        this->SetStream(stream);
        if (outFlags) *outFlags = 0;
        uint8_t raw[kMpmHeaderSize];
        if (!stream || !stream->ReadExactAt(0, raw, sizeof raw)) {
            // Chip resources share some codes, followed by their rate: a file
            // cut inside the header is ours when the version follows the code.
            uint8_t start[6];
            const bool ours = stream && stream->ReadExactAt(0, start, sizeof start) &&
                              (std::memcmp(start, code_, 4) == 0 ||
                               (AlternativeCode() && std::memcmp(start, AlternativeCode(), 4) == 0)) &&
                              LoadU16(start + 4) == kMpmVersion;
            return this->Fail(ours ? WavFileError::kTruncated : WavFileError::kNotThisFormat);
        }
        const uint64_t fileSize = stream->Size();
        S_MpmHeader h;
        const MpmHeaderError e = CheckMpmHeader(raw, sizeof raw, fileSize, code_, AlternativeCode(), h);
        if (e == MpmHeaderError::kWrongCode || e == MpmHeaderError::kTooShort)
            return this->Fail(WavFileError::kNotThisFormat);
        // Neither the version nor the header size of ours after the code: a
        // chip resource of the same code (its rate and payload), not a
        // damaged file of this format.
        if (e != MpmHeaderError::kNone && LoadU16(raw + 4) != kMpmVersion && LoadU16(raw + 6) != kMpmHeaderSize)
            return this->Fail(WavFileError::kNotThisFormat);
        if (e != MpmHeaderError::kNone) return this->Fail(WavFileError::kBadFormat);
        if (!AcceptSoundRate(h.rate, "The MPM file")) return this->Fail(WavFileError::kBadFormat);
        uint8_t mcmd[kMpmMcmdHeaderSize];
        uint8_t wsil[kMpmWsilHeaderSize];
        uint32_t eventCount = 0, silenceCount = 0;
        if (!stream->ReadExactAt(h.mcmdOffset, mcmd, sizeof mcmd) ||
            !stream->ReadExactAt(h.wsilOffset, wsil, sizeof wsil))
            return this->Fail(WavFileError::kTruncated);
        if (CheckMpmBlocks(h, fileSize, mcmd, wsil, &eventCount, &silenceCount) != MpmHeaderError::kNone)
            return this->Fail(WavFileError::kBadMetadata);
        header_ = h;
        this->SetDataOffset(h.sourceOffset);
        if (loadFlag) {
            C_WavData* sound = this->EnsureSound();
            sound->SetFormat(h.rate, 2 * h.sourceCount, h.channels, h.decodedBits, 16, 0);
            this->SetFormatId(formatType_);
            if (!LoadMarkers(*sound, eventCount, silenceCount)) return this->Fail(WavFileError::kBadMetadata);
        }
        return 1;
    }
    // Reads the source PCM words.
    int32_t LoadSamples(uint32_t) override { return this->LoadSampleWords(header_.sourceCount, false); }
    // The decoded section in place of the source words: what the chip plays.
    int32_t LoadPlayedSound() override {
        C_WavData* sound = this->Sound();
        if (!sound || !this->Stream()) return this->Fail(WavFileError::kNoSound);
        this->SetDataOffset(header_.decodedOffset);
        sound->SetFormat(header_.rate, 2 * header_.decodedCount, header_.channels, header_.decodedBits, 16, 0);
        const int32_t ok = this->LoadSampleWords(header_.decodedCount, false);
        this->SetDataOffset(header_.sourceOffset);
        return ok;
    }
    // Writes the container; the frame section comes from WriteFrames.
    // A failure leaves nothing under the path and returns 0.
    int32_t Save(const char* path) override;
    // The container is never scrambled.
    bool IsScrambled() const override { return false; }
    std::string HeaderSummary() const override {
        const S_MpmHeader& h = header_;
        std::string text = FormatString("format: %.4s, version 0x%X\n", h.code, static_cast<unsigned>(h.version));
        text += FormatString("samples: %u source, %u decoded, %u-bit, %u Hz, cut-off %u Hz\n",
                             static_cast<unsigned>(h.sourceCount), static_cast<unsigned>(h.decodedCount),
                             static_cast<unsigned>(h.decodedBits), static_cast<unsigned>(h.rate),
                             static_cast<unsigned>(h.cutOff));
        text += FormatString("frame section: %u bytes at %u\n", static_cast<unsigned>(h.frameSize),
                             static_cast<unsigned>(h.frameOffset));
        if (h.decodedCount != 0 && h.rate != 0)
            text += FormatString("coded bit rate: %.2f kbit/s\n", static_cast<double>(h.frameSize) * 8.0 *
                                                                      static_cast<double>(h.rate) /
                                                                      static_cast<double>(h.decodedCount) / 1000.0);
        return text;
    }

    // The MPM operations.
    // Writes the 22-byte "WPCM" header (version 99) at the start of the
    // temporary file that collects the decoded PCM.
    virtual bool WriteSourceHeader(platform::File& file, uint32_t rate, uint32_t count) {
        const std::vector<uint8_t> bytes = Base::BuildSourceHeader(99, static_cast<uint16_t>(rate), count, false);
        return file.Seek(0, platform::SeekOrigin::kBegin) && file.Write(bytes.data(), bytes.size());
    }
    // Writes the records of the frame section to out (and their
    // reconstruction to its decoded section). samples are the prepared
    // 12-bit offset-binary words; segments cover them in order.
    virtual int32_t WriteFrames(C_MpmFrameOutput& out, const std::vector<uint16_t>& samples,
                                const std::vector<S_MpmSegment>& segments,
                                const std::vector<S_MpmEventEntry>& events) = 0;
    // Fills the fixed fields of the main header; the offsets and counts of
    // the sections are filled after the frames have been written.
    virtual void BuildHeader(S_MpmHeader& header, uint32_t rate, uint32_t sourceCount, uint32_t eventCount) {
        header = S_MpmHeader();
        std::memcpy(header.code, code_, 4);
        header.channels = channels_;
        header.rate = static_cast<uint16_t>(rate);
        header.cutOff = Base::CutOffFrequency(rate);
        header.mcmdSize = kMpmMcmdHeaderSize + kMpmMcmdEntrySize * eventCount;
        header.sourceCount = sourceCount;
        header.codingField = CodingMode() == 1 ? 5 : 4;
        const C_WriteWavParam* param = WriteParam();
        if (param && param->HasRange()) {
            uint32_t minimumMs = 0, level = 0;
            param->GetRange(&minimumMs, &level);
            header.silenceLevel = static_cast<uint16_t>(std::min<uint32_t>(level, 0xFFFF));
            // The silence length T comes in milliseconds; this field, like
            // the detection, counts samples.
            const uint64_t samples = static_cast<uint64_t>(minimumMs) * rate / 1000;
            header.minimumSilence = static_cast<uint16_t>(std::min<uint64_t>(samples, 0xFFFF));
        }
    }

    // The header as read by the last ReadHeaderStream.
    const S_MpmHeader& MpmHeader() const { return header_; }
    const char* FormatCode() const { return code_; }
    const char* SecondCode() const { return secondCode_; }

    // Settings that derived formats change.
    uint16_t Channels() const { return channels_; }
    uint32_t LongFrameLength() const { return longLength_; }
    uint32_t ShortFrameLength() const { return shortLength_; }
    uint16_t FillValue() const { return fillValue_; }
    uint32_t CommandFrameSetting() const { return commandFrame_; }
    uint32_t VoiceAlignment() const { return voiceAlign_; }
    uint32_t MaxSilenceRecord() const { return maxSilence_; }
    uint32_t FormatType() const { return formatType_; }
    void SetFrameLengths(uint32_t longLength, uint32_t shortLength) {
        longLength_ = longLength;
        shortLength_ = shortLength;
    }
    void SetCommandFrameSetting(uint32_t setting) { commandFrame_ = setting; }
    void SetMaxSilenceRecord(uint32_t samples) { maxSilence_ = samples; }
    void SetFormatType(uint32_t type) { formatType_ = type; }

protected:
    // The bits of the offset-binary sample words handed to WriteFrames.
    virtual uint16_t SampleBits() const { return 12; }
    // A second header code accepted on reading (none by default).
    virtual const char* AlternativeCode() const { return nullptr; }
    // The coding mode of the write parameters (the codec parameter).
    uint32_t CodingMode() const {
        const C_WriteWavParam* param = WriteParam();
        return param ? param->GetCodecParam() : 0;
    }
    const C_WriteWavParam* WriteParam() const {
        C_WavData* sound = const_cast<T_MpmFormatBase*>(this)->Sound();
        return sound ? sound->GetWriteParam() : nullptr;
    }

private:
    bool LoadMarkers(C_WavData& sound, uint32_t eventCount, uint32_t silenceCount);

    char code_[4];
    char secondCode_[4];
    uint16_t channels_ = 1;
    uint32_t longLength_ = 64;
    uint32_t shortLength_ = 16;
    uint16_t fillValue_ = 2047;
    uint32_t commandFrame_ = 1;
    uint32_t voiceAlign_ = 1;
    uint32_t maxSilence_ = 65535;
    uint32_t formatType_ = kFormatMpm;
    S_MpmHeader header_;
};

template <typename Base>
bool T_MpmFormatBase<Base>::LoadMarkers(C_WavData& sound, uint32_t eventCount, uint32_t silenceCount) {
    InputStream* stream = this->Stream();
    std::vector<uint8_t> bytes;
    // Both counts were checked against the block and file sizes.
    if (!stream->ReadBytes(header_.mcmdOffset + uint64_t{kMpmMcmdHeaderSize}, size_t{kMpmMcmdEntrySize} * eventCount,
                           bytes))
        return false;
    C_ActionEventMgr* events = sound.GetActionEventMgr();
    events->RemoveAllEvents();
    events->SetSampleRate(header_.rate);
    for (uint32_t i = 0; i < eventCount; ++i) {
        const uint8_t* p = &bytes[size_t{kMpmMcmdEntrySize} * i];
        events->AddEventAtSample(p[4], LoadU32(p), "", p[5]);
    }
    uint32_t first = 0;
    uint8_t field[4];
    if (!stream->ReadExactAt(header_.wsilOffset + 8ull, field, 4)) return false;
    first = LoadU32(field);
    if (!stream->ReadBytes(first, size_t{kMpmWsilEntrySize} * silenceCount, bytes)) return false;
    sound.SilenceSegments().Clear();
    for (uint32_t i = 0; i < silenceCount; ++i) {
        const uint8_t* p = &bytes[size_t{kMpmWsilEntrySize} * i];
        const uint32_t start = LoadU32(p), last = LoadU32(p + 4);
        if (last >= start) sound.SilenceSegments().Add(std::make_unique<C_SilenceSegment>(start, last));
    }
    return true;
}

template <typename Base>
int32_t T_MpmFormatBase<Base>::Save(const char* path) {
    C_WavData* sound = this->Sound();
    if (!sound || !path || !*path) return 0;
    const uint32_t rate = sound->GetWavInfo()->GetSampleRate();
    if (rate == 0 || rate > 0xFFFF) return 0;  // the rate field has 16 bits
    std::vector<uint16_t> samples;
    if (!Base::ChipSampleWords(*sound, samples, SampleBits())) return 0;
    const uint32_t count = static_cast<uint32_t>(samples.size());

    std::vector<S_MpmEventEntry> events;
    for (const C_ActionEvent* e : sound->GetActionEventMgr()->Events())
        events.push_back({e->GetSamplePos(), static_cast<uint8_t>(e->GetType()), static_cast<uint8_t>(e->GetParam())});
    // Silence marked on the sound (regions from a WAV file's labels) becomes
    // its silence segments when it has none yet.
    if (sound->SilenceSegments().GetCount() == 0) sound->BuildSilenceSegments();
    std::vector<S_MpmSilence> silences;
    for (const C_SilenceSegment* s : sound->SilenceSegments()) silences.push_back({s->GetStart(), s->GetEnd()});
    const uint8_t voiceType = CodingMode() == 1 ? kMpmSegmentVoiceRaw : kMpmSegmentVoice;
    const std::vector<S_MpmSegment> segments = BuildMpmSegmentTable(count, silences, events, voiceType);

    // The decoded-PCM section is built in a temporary file of its own,
    // created exclusively; its remover is declared before the file so that
    // the file is closed before it is removed. The output is written beside
    // its name and put in place only when complete.
    std::string tempPath;
    C_FileRemover tempRemover;
    std::optional<platform::File> temp =
        platform::CreateTempFile(platform::TempDirectory(), "xxxx", "", &tempPath, platform::open_flags::kReadWrite);
    if (!temp) return 0;
    tempRemover.Set(tempPath);
    if (!WriteSourceHeader(*temp, rate, 0)) return 0;
    std::optional<platform::AtomicOutput> output = platform::AtomicOutput::Begin(path);
    if (!output) return 0;
    platform::File* out = &output->Out();

    S_MpmHeader header;
    BuildHeader(header, rate, count, static_cast<uint32_t>(events.size()));
    std::vector<uint8_t> head = SerializeMpmHeader(header);
    std::vector<uint8_t> frameHead = SerializeMpmFrameHeader(kMpmHeaderSize, kMpmFrameHeaderSize);
    if (!out->Write(head.data(), head.size()) || !out->Write(frameHead.data(), frameHead.size())) return 0;
    C_MpmFrameOutput sink(*out, *temp);
    if (!WriteFrames(sink, samples, segments, events) || !sink.Flush()) return 0;

    // Section offsets; the whole file must stay addressable with 32 bits.
    const uint64_t decodedCount = sink.DecodedCount();
    const uint64_t frameSize = kMpmFrameHeaderSize + sink.FrameBytes();
    const uint64_t decodedOffset = kMpmHeaderSize + frameSize;
    const uint64_t sourceOffset = decodedOffset + 2 * decodedCount;
    const uint64_t mcmdOffset = sourceOffset + 2ull * count;
    const uint64_t wsilOffset = mcmdOffset + header.mcmdSize;
    const uint64_t end = wsilOffset + kMpmWsilHeaderSize + uint64_t{kMpmWsilEntrySize} * silences.size();
    if (end > 0xFFFFFFFFull) return 0;
    header.frameSize = static_cast<uint32_t>(frameSize);
    header.decodedOffset = static_cast<uint32_t>(decodedOffset);
    header.decodedCount = static_cast<uint32_t>(decodedCount);
    header.sourceOffset = static_cast<uint32_t>(sourceOffset);
    header.mcmdOffset = static_cast<uint32_t>(mcmdOffset);
    header.wsilOffset = static_cast<uint32_t>(wsilOffset);
    if (!WriteSourceHeader(*temp, rate, header.decodedCount)) return 0;
    head = SerializeMpmHeader(header);
    frameHead = SerializeMpmFrameHeader(kMpmHeaderSize, header.frameSize);
    if (!out->Seek(0, platform::SeekOrigin::kBegin) || !out->Write(head.data(), head.size()) ||
        !out->Write(frameHead.data(), frameHead.size()) || !out->Seek(0, platform::SeekOrigin::kEnd))
        return 0;

    if (!CopyFileRange(*temp, Base::kHeaderSize, 2 * decodedCount, *out)) return 0;
    // The source samples, a block at a time, then the marker blocks.
    std::vector<uint8_t> tail;
    for (uint32_t at = 0; at < count;) {
        const uint32_t n = std::min<uint32_t>(count - at, 32768);
        tail.resize(2ull * n);
        for (uint32_t i = 0; i < n; ++i) StoreU16(&tail[2ull * i], samples[at + i]);
        if (!out->Write(tail.data(), tail.size())) return 0;
        at += n;
    }
    tail = BuildMcmdBlock(header.mcmdOffset, events);
    const std::vector<uint8_t> wsil = BuildWsilBlock(header.wsilOffset, silences);
    tail.insert(tail.end(), wsil.begin(), wsil.end());
    if (!out->Write(tail.data(), tail.size())) return 0;
    temp->Close();
    return output->Commit() ? 1 : 0;
}

}  // namespace cz
