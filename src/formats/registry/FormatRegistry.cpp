#include "formats/registry/FormatRegistry.h"

#include <array>
#include <cstring>

#include "foundation/C_CUString.h"

namespace cz {

namespace {

// The 50 registry records, in table order.
constexpr std::array<S_FormatRecord, 50> kRecords{{
    {kFormatSrc, ".SRC", kClassSound, kFamilyPcm},           {kFormatEnSrc, ".SRC", kClassSound, kFamilyPcm},
    {kFormatWav, ".WAV", kClassSound, kFamilyPcm},           {kFormatWav, ".WIO", kClassSound, kFamilyPcm},
    {kFormatWio, ".WIO", kClassSound, kFamilyPcm},           {kFormatWam, ".WAM", kClassSound, kFamilyAdpcm},
    {kFormatWmd, ".WMD", kClassSound, kFamilyMdpcm},         {kFormatApm, ".APM", kClassSound, kFamilyAdpcm},
    {kFormatMpm, ".MPM", kClassSound, kFamilyMdpcm},         {kFormatQ310Wmd, ".WM5", kClassSound, kFamilyMdpcm},
    {kFormatPc8, ".PC8", kClassSound, kFamilyNone},          {kFormatLp8, ".LP8", kClassSound, kFamilyNone},
    {kFormatP10, ".P10", kClassSound, kFamilyP10},           {kFormatApm6Bit, ".AP6", kClassSound, kFamilyAdpcm},
    {kFormatMdm, ".MDM", kClassSound, kFamilyMdpcm},         {kFormatMdm6Bit, ".MD6", kClassSound, kFamilyMdpcm},
    {kFormatClp1, ".CP1", kClassSound, kFamilyNone},         {kFormatClp2, ".CP2", kClassSound, kFamilyNone},
    {kFormatClp3, ".CP3", kClassSound, kFamilyNone},         {kFormatMidi, ".MID", kClassMelody, kFamilyNone},
    {kFormatMidi, ".KAR", kClassMelody, kFamilyNone},        {kFormatIns, ".INS", kClassInstrument, kFamilyNone},
    {kFormatEam, ".EAM", kClassSound, kFamilyAdpcm},         {kFormatEmm, ".MD5", kClassSound, kFamilyMdpcm},
    {kFormatE2a, ".AD4", kClassSound, kFamilyAdpcm},         {kFormatPam, ".PAM", kClassSound, kFamilyAdpcm},
    {kFormatInsWav1, ".WAV", kClassInstrument, kFamilyNone}, {kFormatInsWav2, ".WAV", kClassInstrument, kFamilyNone},
    {kFormatMcp, ".MCP", kClassSound, kFamilyNone},          {kFormatSbd, ".SBD", kClassSound, kFamilyNone},
    {kFormatWlp, ".WLP", kClassSound, kFamilyNone},          {kFormatP16, ".P16", kClassSound, kFamilyNone},
    {kFormatMp3, ".MP3", kClassSound, kFamilyNone},          {kFormatImf, ".IMF", kClassMelody, kFamilyNone},
    {kFormatCmf, ".CMF", kClassMelody, kFamilyNone},         {kFormatMbn, ".MBN", kClassMelody, kFamilyNone},
    {kFormatCbn, ".CBN", kClassMelody, kFamilyNone},         {kFormatXmf, ".XMF", kClassMelody, kFamilyNone},
    {kFormatEsb, ".ESB", kClassSound, kFamilyNone},          {kFormatWax, ".WAX", kClassInstrument, kFamilyNone},
    {kFormatS08, ".S08", kClassSound, kFamilyNone},          {kFormatS16, ".S16", kClassSound, kFamilyNone},
    {kFormatSam, ".SAM", kClassSound, kFamilyAdpcm},         {kFormatSmm, ".SMM", kClassSound, kFamilyMdpcm},
    {kFormatQ420Mpm, ".42M", kClassSound, kFamilyMdpcm},     {kFormatQ420Pcm, ".42P", kClassSound, kFamilyNone},
    {kFormatMvclp, ".MVC", kClassSound, kFamilyNone},        {kFormatLfm, ".LFM", kClassPicture, kFamilyNone},
    {kFormatBmp, ".BMP", kClassPicture, kFamilyNone},        {kFormatBin, ".BIN", kClassBinary, kFamilyNone},
}};

// The 27 four-character codes, in table order.
constexpr std::array<S_FormatCode, 27> kCodes{{
    {kFormatWio, "WEVO"},     {kFormatApm, "WADM"},     {kFormatMpm, "WMPM"},     {kFormatPc8, "WPC8"},
    {kFormatLp8, "WLP8"},     {kFormatP10, "WP10"},     {kFormatApm6Bit, "WAP6"}, {kFormatMdm, "WMdM"},
    {kFormatMdm6Bit, "WMD6"}, {kFormatClp1, "WCP1"},    {kFormatClp2, "WCP2"},    {kFormatClp3, "WCP3"},
    {kFormatEam, "WEAM"},     {kFormatEmm, "WEMM"},     {kFormatE2a, "WE2A"},     {kFormatPam, "WPAM"},
    {kFormatMcp, "WMCP"},     {kFormatSbd, "OSBC"},     {kFormatWlp, "WLPC"},     {kFormatP16, "WP16"},
    {kFormatS08, "WS08"},     {kFormatS16, "WS16"},     {kFormatSam, "WSAM"},     {kFormatSmm, "WSMM"},
    {kFormatQ420Mpm, "Q42M"}, {kFormatQ420Pcm, "Q42P"}, {kFormatMvclp, "WMVP"},
}};

}  // namespace

std::span<const S_FormatRecord> FormatRecords() { return kRecords; }
std::span<const S_FormatCode> FormatCodes() { return kCodes; }

FormatId GetFormatIdFromExtension(const char* extension) {
    if (!extension) return kFormatNone;
    for (const auto& record : kRecords)
        if (CompareNoCase(extension, record.extension) == 0) return record.id;
    return kFormatNone;
}

const char* GetExtensionOfFormat(uint32_t id) {
    for (const auto& record : kRecords)
        if (record.id == id) return record.extension;
    return nullptr;
}

}  // namespace cz
