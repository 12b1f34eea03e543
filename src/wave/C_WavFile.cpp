#include "wave/C_WavFile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "codecs/wavadpcm/WavAdpcmDecode.h"
#include "foundation/ByteReader.h"
#include "foundation/C_CUString.h"
#include "foundation/RefPtr.h"
#include "foundation/C_FileAttributes.h"
#include "platform/Platform.h"

namespace cz {

namespace {

// What a refusal of the sample format adds after the format's name.
constexpr const char* kAcceptedFormats =
    " is not read; accepted are PCM of 8 to 32 bits, 32- and 64-bit IEEE float, A-law, mu-law, Microsoft ADPCM, "
    "IMA ADPCM, and WAVE_FORMAT_EXTENSIBLE with PCM or float samples";

// The name of a format tag in messages: the registered name where it is a
// common one, the number always.
std::string FormatTagName(uint16_t tag) {
    static const struct {
        uint16_t tag;
        const char* name;
    } kNames[] = {{0x0001, "PCM"},          {0x0002, "Microsoft ADPCM"},
                  {0x0003, "IEEE float"},   {0x0006, "A-law"},
                  {0x0007, "mu-law"},       {0x0011, "IMA ADPCM"},
                  {0x0031, "GSM 6.10"},     {0x0050, "MPEG audio"},
                  {0x0055, "MPEG Layer 3"}, {0x0161, "WMA"},
                  {0x2000, "AC-3"},         {0xFFFE, "WAVE_FORMAT_EXTENSIBLE"}};
    char number[16];
    std::snprintf(number, sizeof number, "0x%04X", static_cast<unsigned>(tag));
    for (const auto& entry : kNames)
        if (entry.tag == tag) return std::string(entry.name) + " (format tag " + number + ")";
    return std::string("format tag ") + number;
}

// Sample formats that load as 16-bit PCM.
bool ConvertedOnLoad(uint16_t tag) { return tag == kWaveTagFloat || tag == kWaveTagALaw || tag == kWaveTagMuLaw; }

// A float sample (full scale +-1.0) as 16-bit PCM: scaled by 32768, rounded
// to nearest (halves away from zero) and clipped; NaN gives 0.
int16_t FloatToPcm16(double x) {
    if (!(x == x)) return 0;
    const double v = std::round(x * 32768.0);
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<int16_t>(v);
}

// G.711 expansion to 16-bit PCM by the decoder output values of ITU-T
// Recommendation G.711 (tables 1 and 2): each segment's values are evenly
// spaced; the 13-bit A-law values are scaled by 8, the 14-bit mu-law values
// by 4, to full scale.
// A-law: even bits inverted (XOR 0x55), bit 7 set is positive, 3 segment and
// 4 step bits; segment 0 gives 2 x step + 1, segment s > 0 gives
// (2 x step + 33) x 2^(s - 1), in 13-bit units.
int16_t ExpandALaw(uint8_t code) {
    const uint8_t a = code ^ 0x55;
    const int segment = (a >> 4) & 7;
    const int step = a & 0x0F;
    int magnitude = (step << 4) + 8;
    if (segment > 0) magnitude = ((step << 4) + 0x108) << (segment - 1);
    return static_cast<int16_t>((a & 0x80) ? magnitude : -magnitude);
}

// mu-law: all bits inverted, then bit 7 set is negative; segment s gives
// (2 x step + 33) x 2^s - 33, in 14-bit units.
int16_t ExpandMuLaw(uint8_t code) {
    const uint8_t u = static_cast<uint8_t>(~code);
    const int segment = (u >> 4) & 7;
    const int step = u & 0x0F;
    const int magnitude = (((step << 3) + 0x84) << segment) - 0x84;
    return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

// The title of what a load reports through the message sink.
constexpr const char* kMessageTitle = "WAV File";

// The tail of every standard subformat identifier (KSDATAFORMAT_SUBTYPE_*).
constexpr uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A label "(a,b)": an opening parenthesis, then a comma, then a closing one.
bool ParseEventLabel(const std::string& text, uint32_t* type, uint32_t* param) {
    size_t open = text.find('(');
    if (open == std::string::npos) return false;
    size_t comma = text.find(',', open + 1);
    if (comma == std::string::npos) return false;
    size_t close = text.find(')', comma + 1);
    if (close == std::string::npos) return false;
    auto number = [](const std::string& s) {
        std::string t = s.substr(0, 31);
        return static_cast<uint32_t>(std::strtol(t.c_str(), nullptr, 10));
    };
    *type = number(text.substr(open + 1, comma - open - 1));
    *param = number(text.substr(comma + 1, close - comma - 1));
    return true;
}

bool IsSilenceLabel(const std::string& text) {
    C_CUString t(text);
    t.Trim();
    return t.EqualsNoCase("SILENCE");
}

bool IsMarkerLabel(const std::string& text) {
    uint32_t a = 0, b = 0;
    return ParseEventLabel(text, &a, &b) || IsSilenceLabel(text);
}

}  // namespace

namespace {

struct ErrorText {
    WavFileError code;
    const char* text;
};

// What each refusal means, in words for a person.
constexpr ErrorText kErrorTexts[] = {
    {WavFileError::kNone, "no error"},
    {WavFileError::kCannotOpen, "the file cannot be opened"},
    {WavFileError::kNotRiffWave, "not a RIFF/WAVE file"},
    {WavFileError::kTruncated, "the file is cut short"},
    {WavFileError::kNoFormatChunk, "no format chunk"},
    {WavFileError::kNoDataChunk, "no data chunk"},
    {WavFileError::kUnsupportedFormat, "unsupported sample format"},
    {WavFileError::kBadFormat, "invalid format record"},
    {WavFileError::kBadMetadata, "damaged cue, sampler or list chunk"},
    {WavFileError::kBadSampleData, "damaged sample data"},
    {WavFileError::kNotThisFormat, "not a file of this format"},
    {WavFileError::kNoSound, "no sound"},
};

}  // namespace

const char* WavFileErrorText(WavFileError error) {
    for (const auto& entry : kErrorTexts)
        if (entry.code == error) return entry.text;
    return "unknown error";
}

C_WavFile::C_WavFile() = default;

C_WavFile::~C_WavFile() = default;

uint32_t C_WavFile::Release() {
    if (refCount_ > 0) return --refCount_;
    delete this;
    return 0;
}

C_WavData* C_WavFile::EnsureSound() {
    if (!sound_) {
        owned_ = std::make_unique<C_WavData>();
        owned_->SetOwnerWindow(ownerWindow_);
        sound_ = owned_.get();
        attached_ = 0;
    }
    return static_cast<C_WavData*>(sound_);
}

void C_WavFile::AttachWavData(I_WavData* sound) {
    owned_.reset();
    sound_ = sound;
    attached_ = sound ? 1 : 0;
    if (sound) sound->GetActionEventMgr()->SetSampleRate(sound->GetWavInfo()->GetSampleRate());
}

I_WavData* C_WavFile::DetachWavData() {
    if (!attached_) return nullptr;
    I_WavData* sound = sound_;
    sound_ = nullptr;
    attached_ = 0;
    return sound;
}

I_WavData* C_WavFile::GetWavData() { return EnsureSound(); }

int32_t C_WavFile::CopyWavData(I_WavData* other) { return EnsureSound()->CopyWavData(other); }

void C_WavFile::SetWavInfo(const I_WavInfo& format) { EnsureSound()->SetWavInfo(format); }

int32_t C_WavFile::SetFormat(uint32_t rate, uint32_t dataSize, uint16_t channels, uint16_t validBits,
                             uint16_t containerBits, uint32_t signedFlag) {
    EnsureSound()->SetFormat(rate, dataSize, channels, validBits, containerBits, signedFlag);
    return 1;
}

uint8_t* C_WavFile::SetSampleData(const uint8_t* bytes, uint32_t size) {
    return EnsureSound()->SetSampleData(bytes, size);
}

int32_t C_WavFile::SaveAs(uint32_t formatId, const char* path) {
    if (!sound_) return 0;
    return sound_->SaveAs(formatId, path);
}

int32_t C_WavFile::GetInfo(uint32_t kind, void** out) {
    if (!sound_) {
        if (out) *out = nullptr;
        return 0;
    }
    return sound_->GetInfo(kind, out);
}

void C_WavFile::RecordPathTimeAndLength(const char* path) {
    SetPath(path);
    platform::FileTime creation, access, write;
    if (C_FileAttributes::Instance().GetFileTimes(path, &creation, &access, &write)) lastWrite_.SetFromFileTime(write);
    fileLength_ = C_FileAttributes::Instance().GetFileLength(path);
}

int32_t C_WavFile::ReadHeader(const char* path, uint32_t loadFlag, uint32_t* outFlags) {
    SetPath(path);
    auto stream = path ? InputStream::OpenFile(path) : nullptr;
    if (!stream) {
        return Fail(WavFileError::kCannotOpen);
    }
    return ReadHeaderStream(std::move(stream), loadFlag, outFlags);
}

int32_t C_WavFile::ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t*) {
    error_ = WavFileError::kNone;
    errorDetail_.clear();
    stream_ = stream;
    C_RiffFile riff;
    if (!riff.Open(stream, "WAVE")) {
        return Fail(WavFileError::kNotRiffWave);
    }
    C_RiffChunk* fmt = nullptr;
    C_RiffChunk* data = nullptr;
    for (C_RiffChunk* chunk : riff.GetChunks()) {
        if (!fmt && chunk->IdIs("fmt ")) fmt = chunk;
        if (!data && chunk->IdIs("data")) data = chunk;
    }
    if (!fmt) {
        return Fail(WavFileError::kNoFormatChunk);
    }
    const auto* fmtData = fmt->Data();
    if (!fmtData || fmtData->size() < 16 || fmt->GetSize() < 16) {
        return Fail(fmtData && fmtData->size() < fmt->GetSize() ? WavFileError::kTruncated : WavFileError::kBadFormat);
    }
    fmtBytes_ = *fmtData;
    ByteReader r(fmtBytes_.data(), fmtBytes_.size());
    S_WaveFormat wf;
    r.U16(wf.formatTag);
    r.U16(wf.channels);
    r.U32(wf.sampleRate);
    r.U32(wf.bytesPerSecond);
    r.U16(wf.blockAlign);
    r.U16(wf.bitsPerSample);
    uint16_t tag = wf.formatTag;
    if (tag == kWaveTagExtensible) {
        // WAVE_FORMAT_EXTENSIBLE: accepted when its subformat is PCM or
        // IEEE float.
        uint16_t cbSize = 0, validBits = 0, subTag = 0;
        uint32_t channelMask = 0;
        uint8_t tail[14];
        if (!r.U16(cbSize) || cbSize < 22 || !r.U16(validBits) || !r.U32(channelMask) || !r.U16(subTag) ||
            !r.Bytes(tail, sizeof tail) || std::memcmp(tail, kSubformatTail, 14) != 0) {
            return Fail(WavFileError::kUnsupportedFormat,
                        "WAVE_FORMAT_EXTENSIBLE without a standard subformat" + std::string(kAcceptedFormats));
        }
        if (subTag != kWaveTagPcm && subTag != kWaveTagFloat) {
            return Fail(WavFileError::kUnsupportedFormat,
                        "WAVE_FORMAT_EXTENSIBLE with subformat " + FormatTagName(subTag) + kAcceptedFormats);
        }
        if (subTag == kWaveTagPcm && validBits != 0 && validBits < wf.bitsPerSample) wf.bitsPerSample = validBits;
        tag = subTag;
    }
    if (tag != kWaveTagPcm && tag != kWaveTagMsAdpcm && tag != kWaveTagImaAdpcm && !ConvertedOnLoad(tag)) {
        return Fail(WavFileError::kUnsupportedFormat, FormatTagName(tag) + kAcceptedFormats);
    }
    // A record that would make later arithmetic divide by zero, or that
    // describes no storable sample, is refused here.
    if (wf.channels == 0 || wf.sampleRate == 0 || wf.blockAlign == 0 ||
        (tag == kWaveTagPcm && (wf.bitsPerSample == 0 || wf.bitsPerSample > 32))) {
        return Fail(WavFileError::kBadFormat);
    }
    if (tag == kWaveTagPcm) {
        uint32_t container = static_cast<uint32_t>(wf.blockAlign) * 8u / wf.channels;
        if (wf.blockAlign % wf.channels != 0 ||
            (container != 8 && container != 16 && container != 24 && container != 32) || container < wf.bitsPerSample) {
            return Fail(WavFileError::kBadFormat);
        }
        storedContainerBits_ = static_cast<uint16_t>(container);
    }
    // Float samples of 4 or 8 bytes, G.711 samples of one byte, each frame
    // exactly one sample per channel.
    if (ConvertedOnLoad(tag)) {
        const uint16_t width = tag == kWaveTagFloat ? wf.bitsPerSample : 8;
        if ((tag == kWaveTagFloat && width != 32 && width != 64) || (tag != kWaveTagFloat && wf.bitsPerSample != 8)) {
            return Fail(WavFileError::kUnsupportedFormat,
                        std::to_string(wf.bitsPerSample) + "-bit " + FormatTagName(tag) + kAcceptedFormats);
        }
        if (wf.blockAlign != static_cast<uint32_t>(wf.channels) * (width / 8u)) {
            return Fail(WavFileError::kBadFormat);
        }
    }
    if (!data) {
        return Fail(WavFileError::kNoDataChunk);
    }
    waveFormat_ = wf;
    formatTag_ = tag;
    fmtOffset_ = fmt->GetDataOffset();
    dataOffset_ = data->GetDataOffset();
    dataSize_ = data->GetSize();
    // A file cut short (an interrupted recording) gives the whole frames it
    // holds, as other tools do; a partial last frame or block is dropped.
    const uint32_t held = data->GetAvailableSize();
    const bool cutShort = held < dataSize_;
    if (cutShort) dataSize_ = held / wf.blockAlign * wf.blockAlign;

    if (loadFlag) {
        C_WavData* sound = EnsureSound();
        uint16_t container = tag == kWaveTagPcm ? (storedContainerBits_ == 24 ? 32 : storedContainerBits_) : 16;
        uint16_t valid = tag == kWaveTagPcm ? wf.bitsPerSample : 16;
        uint64_t size = dataSize_;
        if (tag == kWaveTagPcm || ConvertedOnLoad(tag)) {
            uint64_t frames = dataSize_ / wf.blockAlign;
            size = frames * wf.channels * (container / 8u);
        }
        if (size > 0xFFFFFFFFull) {
            return Fail(WavFileError::kBadSampleData);
        }
        sound->SetFormat(wf.sampleRate, static_cast<uint32_t>(size), wf.channels, valid, container, valid > 8 ? 1 : 0);
        formatId_ = kFormatWav;
        const std::string name = path_.empty() ? std::string("The sound") : "The file '" + path_ + "'";
        if (cutShort) {
            platform::ShowMessage(kMessageTitle, name + " is shorter than its header says: " + std::to_string(held) +
                                                     " of " + std::to_string(data->GetSize()) +
                                                     " bytes of samples are present; those are loaded");
        }
        for (C_RiffChunk* chunk : riff.GetChunks()) {
            // A cue, sampler or label chunk whose counts run past its end is
            // dropped: the sound is still worth having without its markers.
            const char* dropped = nullptr;
            if (chunk->IdIs("cue ")) {
                if (!sound->CueInfo().LoadFromChunk(*chunk)) {
                    sound->CueInfo().Clear();
                    dropped = "cue";
                }
            } else if (chunk->IdIs("smpl")) {
                if (!sound->SamplerInfo().LoadFromChunk(*chunk)) {
                    sound->SamplerInfo().Clear();
                    dropped = "smpl";
                }
            } else if (chunk->IdIs("LIST")) {
                if (!sound->ListInfo().LoadFromChunk(*chunk)) {
                    sound->ListInfo().ClearLabels();
                    sound->ListInfo().ClearTexts();
                    dropped = "LIST";
                }
            } else if (chunk->IdIs("WIOD") || chunk->IdIs("UIOW")) {
                if (!sound->ExtraChunks().AddFromChunk(chunk->GetId(), *chunk)) return Fail(WavFileError::kBadMetadata);
            }
            if (dropped) {
                platform::ShowMessage(kMessageTitle, name + ": its damaged " + dropped +
                                                         " chunk is left out; the sound is loaded without it");
            }
        }
    }
    codecType_ = tag == kWaveTagMsAdpcm ? kCodecMsAdpcm : tag == kWaveTagImaAdpcm ? kCodecImaAdpcm : kCodecPcm;
    return 1;
}

int32_t C_WavFile::LoadSamples(uint32_t) {
    if (!sound_ || !stream_) {
        return Fail(WavFileError::kNoSound);
    }
    int32_t ok = formatTag_ == kWaveTagPcm ? LoadPcm() : ConvertedOnLoad(formatTag_) ? LoadConverted() : LoadAdpcm();
    if (!ok) return 0;
    RebuildMarkersFromLabels();
    return 1;
}

int32_t C_WavFile::LoadPcm() {
    C_WavData* sound = Sound();
    const uint32_t frames = dataSize_ / waveFormat_.blockAlign;
    const uint32_t stored = static_cast<uint32_t>(frames) * waveFormat_.blockAlign;
    std::vector<uint8_t> raw;
    if (!stream_->ReadBytes(dataOffset_, stored, raw)) {
        return Fail(WavFileError::kTruncated);
    }
    if (storedContainerBits_ != 24) {
        sound->SetSampleData(raw.data(), stored);
    } else {
        // 24-bit samples are widened into 32-bit containers, valid bits kept.
        std::vector<uint8_t> wide(static_cast<size_t>(raw.size() / 3) * 4);
        for (size_t i = 0, j = 0; i + 3 <= raw.size(); i += 3, j += 4) {
            wide[j] = raw[i];
            wide[j + 1] = raw[i + 1];
            wide[j + 2] = raw[i + 2];
            wide[j + 3] = (raw[i + 2] & 0x80) ? 0xFF : 0x00;
        }
        sound->SetSampleData(wide.data(), static_cast<uint32_t>(wide.size()));
    }
    return 1;
}

int32_t C_WavFile::LoadConverted() {
    C_WavData* sound = Sound();
    const uint32_t width = formatTag_ == kWaveTagFloat ? waveFormat_.bitsPerSample / 8u : 1u;
    const uint32_t frames = dataSize_ / waveFormat_.blockAlign;
    const size_t count = static_cast<size_t>(frames) * waveFormat_.channels;
    std::vector<uint8_t> raw;
    if (!stream_->ReadBytes(dataOffset_, static_cast<uint32_t>(count * width), raw) || raw.size() < count * width) {
        return Fail(WavFileError::kTruncated);
    }
    std::vector<uint8_t> le(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* at = raw.data() + i * width;
        int16_t v = 0;
        if (formatTag_ == kWaveTagALaw) {
            v = ExpandALaw(at[0]);
        } else if (formatTag_ == kWaveTagMuLaw) {
            v = ExpandMuLaw(at[0]);
        } else if (width == 4) {
            float f;
            const uint32_t bits = LoadU32(at);
            std::memcpy(&f, &bits, 4);
            v = FloatToPcm16(f);
        } else {
            double d;
            const uint64_t bits = LoadU32(at) | static_cast<uint64_t>(LoadU32(at + 4)) << 32;
            std::memcpy(&d, &bits, 8);
            v = FloatToPcm16(d);
        }
        StoreU16(&le[2 * i], static_cast<uint16_t>(v));
    }
    sound->SetSampleData(le.data(), static_cast<uint32_t>(le.size()));
    return 1;
}

int32_t C_WavFile::LoadAdpcm() {
    C_WavData* sound = Sound();
    std::vector<uint8_t> raw;
    if (!stream_->ReadBytes(dataOffset_, dataSize_, raw)) {
        return Fail(WavFileError::kTruncated);
    }
    std::vector<int16_t> pcm;
    WavAdpcmStreamInfo info;
    if (!DecodeWavAdpcm(fmtBytes_.data(), fmtBytes_.size(), raw.data(), raw.size(), pcm, &info)) {
        return Fail(WavFileError::kBadSampleData);
    }
    uint64_t bytes = static_cast<uint64_t>(pcm.size()) * 2;
    if (bytes > 0xFFFFFFFFull) {
        return Fail(WavFileError::kBadSampleData);
    }
    std::vector<uint8_t> le(static_cast<size_t>(bytes));
    for (size_t i = 0; i < pcm.size(); ++i) StoreU16(&le[2 * i], static_cast<uint16_t>(pcm[i]));
    sound->SetFormat(waveFormat_.sampleRate, static_cast<uint32_t>(bytes), waveFormat_.channels, 16, 16, 1);
    sound->SetSampleData(le.data(), static_cast<uint32_t>(bytes));
    return 1;
}

void C_WavFile::RebuildMarkersFromLabels() {
    C_WavData* sound = Sound();
    if (!sound) return;
    C_ActionEventMgr* events = sound->GetActionEventMgr();
    events->SetSampleRate(sound->GetWavInfo()->GetSampleRate());
    C_WavDataListInfo& list = sound->ListInfo();
    C_WavDataCueInfo& cues = sound->CueInfo();
    for (int32_t i = 0; i < list.GetLabelCount(); ++i) {
        uint32_t cueId = 0;
        const char* text = list.GetLabelAt(i, &cueId);
        I_WavDataCuePoint* cue = cues.FindByCueId(cueId);
        if (!text || !cue) continue;
        uint32_t type = 0, param = 0;
        if (ParseEventLabel(text, &type, &param))
            events->AddEventAtSample(type, cue->GetPosition(), nullptr, param);
        else if (IsSilenceLabel(text))
            events->AddSilenceRegion(cue->GetPosition(), list.GetTextLength(cueId));
    }
}

int32_t C_WavFile::Load(const char* path, uint32_t flag) {
    if (!ReadHeader(path, 1, nullptr)) return 0;
    RecordPathTimeAndLength(path);
    int32_t result = LoadSamples(flag);
    if (result && sound_) sound_->GetActionEventMgr()->SetSampleRate(sound_->GetWavInfo()->GetSampleRate());
    return result;
}

int32_t C_WavFile::LoadFromStream(std::shared_ptr<InputStream> stream, uint32_t flag, const char* name, bool isFile) {
    SetPath(name);
    if (!ReadHeaderStream(std::move(stream), 1, nullptr)) return 0;
    if (isFile) RecordPathTimeAndLength(name);
    int32_t result = LoadSamples(flag);
    if (result && sound_) sound_->GetActionEventMgr()->SetSampleRate(sound_->GetWavInfo()->GetSampleRate());
    return result;
}

int32_t C_WavFile::Probe(const char* path, uint32_t* outFlags) {
    if (!ReadHeader(path, 0, outFlags)) return 0;
    RecordPathTimeAndLength(path);
    return 1;
}

int32_t C_WavFile::ProbeStream(std::shared_ptr<InputStream> stream, uint32_t* outFlags) {
    return ReadHeaderStream(std::move(stream), 0, outFlags);
}

namespace {

// The sound in the sample format to write: the output format of the write
// parameters, or 16-bit signed for a sound in the 12-bit chip form. Sets
// *chosen to the sound to write (the source itself when nothing changes);
// the result owns a converted copy. False when the conversion fails.
bool SampleFormatToWrite(C_WavData& source, I_WavData** chosen, RefPtr<I_WavData>& converted) {
    C_WriteWavParam* param = source.GetWriteParam();
    I_WavInfo* info = source.GetWavInfo();
    bool convert = false;
    uint16_t valid = 16, container = 16;
    uint32_t sign = 1;
    if (!param->HasOutputFormat()) {
        // 12-bit chip samples, and unsigned samples wider than a byte (which
        // a WAV file stores signed), are written as 16-bit signed.
        convert = info->GetValidBits() == 12 || (info->GetSignedFlag() == 0 && info->GetContainerBits() > 8);
    } else {
        param->GetOutputFormat(&valid, &container, &sign);
        convert =
            valid != info->GetValidBits() || container != info->GetContainerBits() || sign != info->GetSignedFlag();
    }
    *chosen = &source;
    if (!convert) return true;
    converted.reset(source.ConvertFormat(valid, container, sign, nullptr));
    if (!converted) return false;
    *chosen = converted.get();
    return true;
}

// Markers: the events and silence regions become cue points with labels.
// Cue points and labels of other tools are kept; those that carried markers
// are rebuilt from the events, with ids that avoid the kept ones.
void MarkerChunks(C_WavData& source, C_WavDataCueInfo& cues, C_WavDataListInfo& labels) {
    const C_WavDataCueInfo& srcCues = source.CueInfo();
    const C_WavDataListInfo& srcList = source.ListInfo();
    std::set<uint32_t> markerCues;
    for (int32_t i = 0; i < srcList.GetLabelCount(); ++i) {
        uint32_t id = 0;
        const char* text = srcList.GetLabelAt(i, &id);
        if (text && IsMarkerLabel(text)) markerCues.insert(id);
    }
    std::set<uint32_t> usedIds;
    for (int32_t i = 0; i < srcCues.GetCount(); ++i) {
        I_WavDataCuePoint* p = srcCues.GetAt(i);
        if (markerCues.count(p->GetCueId())) continue;
        auto* cp = static_cast<C_WavDataCueInfo::C_CuePoint*>(p);
        char id[5] = {};
        std::memcpy(id, cp->ChunkId(), 4);
        // Every point is kept, also several with one identifier.
        cues.AppendCuePoint(p->GetCueId(), p->GetPosition(), id, p->GetChunkStart(), p->GetBlockStart(),
                            p->GetSampleOffset());
        usedIds.insert(p->GetCueId());
    }
    for (int32_t i = 0; i < srcList.GetLabelCount(); ++i) {
        uint32_t id = 0;
        const char* text = srcList.GetLabelAt(i, &id);
        if (text && !markerCues.count(id)) labels.SetLabel(id, text);
    }
    uint32_t nextId = 1;
    auto newId = [&]() {
        while (usedIds.count(nextId)) ++nextId;
        usedIds.insert(nextId);
        return nextId++;
    };
    for (const C_ActionEvent* event : source.GetActionEventMgr()->Events()) {
        uint32_t id = newId();
        uint32_t pos = event->GetSamplePos();
        cues.AddCuePoint(id, pos, "data", 0, 0, pos);
        labels.SetLabel(
            id,
            FormatString("(%d,%d)", static_cast<int>(event->GetType()), static_cast<int>(event->GetParam())).c_str());
    }
    for (const C_ActionSilenceRegion* region : source.GetActionEventMgr()->Regions()) {
        uint32_t id = newId();
        cues.AddCuePoint(id, region->GetStart(), "data", 0, 0, region->GetStart());
        labels.SetLabel(id, "SILENCE");
        labels.AddText(id, region->GetEnd());
    }
}

// The body of the data chunk: 24-bit sounds (held in 32-bit containers) are
// written packed in three bytes; never more than the buffer holds.
std::vector<uint8_t> DataChunkBody(I_WavData& sound, bool packed24) {
    I_WavInfo* info = sound.GetWavInfo();
    const uint32_t count = info->GetSampleCount();
    const uint16_t channels = info->GetChannels();
    const uint32_t available = std::min(sound.GetDataSize(), sound.GetBuffer()->Capacity());
    std::vector<uint8_t> samples;
    if (packed24) {
        samples.resize(static_cast<size_t>(count) * channels * 3);
        const uint8_t* src = sound.GetSampleBuffer();
        for (size_t i = 0, j = 0; j + 3 <= samples.size() && i + 4 <= available; i += 4, j += 3)
            std::memcpy(&samples[j], src + i, 3);
    } else {
        uint32_t bytes = count * channels * info->GetBytesPerSample();
        if (bytes > available) bytes = available;
        samples.assign(sound.GetSampleBuffer(), sound.GetSampleBuffer() + bytes);
    }
    return samples;
}

// The 16-byte PCM format record of the written file.
std::array<uint8_t, 16> FormatChunkBody(const I_WavInfo& info, bool packed24) {
    S_WaveFormat wf;
    info.ToWaveFormat(wf);
    if (packed24) {
        wf.blockAlign = static_cast<uint16_t>(3 * wf.channels);
        wf.bytesPerSecond = wf.blockAlign * wf.sampleRate;
    }
    std::array<uint8_t, 16> bytes{};
    StoreU16(&bytes[0], kWaveTagPcm);
    StoreU16(&bytes[2], wf.channels);
    StoreU32(&bytes[4], wf.sampleRate);
    StoreU32(&bytes[8], wf.bytesPerSecond);
    StoreU16(&bytes[12], wf.blockAlign);
    StoreU16(&bytes[14], wf.bitsPerSample);
    return bytes;
}

}  // namespace

int32_t C_WavFile::Save(const char* path) {
    if (!sound_ || !path) return 0;
    C_WavData* source = static_cast<C_WavData*>(sound_);
    I_WavData* chosen = nullptr;
    RefPtr<I_WavData> converted;
    if (!SampleFormatToWrite(*source, &chosen, converted)) return 0;
    I_WavInfo* outInfo = chosen->GetWavInfo();
    if (outInfo->GetChannels() == 0 || outInfo->GetSampleRate() == 0 || outInfo->GetContainerBits() == 0) return 0;

    C_WavDataCueInfo cues(outInfo);
    C_WavDataListInfo labels;
    MarkerChunks(*source, cues, labels);

    const bool packed24 = outInfo->GetValidBits() == 24 && outInfo->GetContainerBits() == 32;
    const std::vector<uint8_t> samples = DataChunkBody(*chosen, packed24);
    const std::array<uint8_t, 16> fmt = FormatChunkBody(*outInfo, packed24);

    // fmt, data, then the metadata chunks and the chunks of other tools.
    C_RiffFile riff;
    riff.AddChunk("fmt ", static_cast<uint32_t>(fmt.size()))->SetData(fmt.data());
    static const uint8_t kNothing = 0;
    riff.AddChunk("data", static_cast<uint32_t>(samples.size()))->SetData(samples.empty() ? &kNothing : samples.data());
    if (cues.HasPoints() && !cues.WriteToChunk(*riff.AddChunk("cue ", cues.GetChunkSize()))) return 0;
    C_WavDataSamplerInfo& sampler = source->SamplerInfo();
    if (sampler.HasLoops() && !sampler.WriteToChunk(*riff.AddChunk("smpl", sampler.GetChunkSize()))) return 0;
    if (labels.GetLabelCount() > 0 && !labels.WriteToChunk(*riff.AddChunk("LIST", labels.GetChunkSize()))) return 0;
    for (const C_WavDataExtraChunk* extra : source->ExtraChunks()) {
        const uint8_t* bytes = nullptr;
        uint32_t size = extra->GetData(&bytes);
        if (size == 0) continue;
        char id[4];
        StoreU32(reinterpret_cast<uint8_t*>(id), extra->GetChunkId());
        riff.AddChunk(id, size)->SetData(bytes);
    }
    return riff.Save(path, "WAVE");
}

}  // namespace cz
