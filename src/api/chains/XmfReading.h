// The exports that take an XMF file apart through the format helper library
// (Kelvra.dll): it reports the resource type and does the extraction; these
// drivers choose the steps from the type, run them in order and clean up.
#pragma once

#include <cstdint>

namespace cz::api {

int32_t XmfResourceType(const char* xmf);
int32_t ConvertXmfToMid(const char* xmf, const char* mid);
// As ConvertXmfToMid, and a melody with lyric block (type 8) as well, which
// the export leaves out: for the tool.
int32_t ConvertXmfMelodyToMid(const char* xmf, const char* mid);
int32_t ConvertXmfToMidAndDls(const char* xmf, const char* mid, const char* dls);
int32_t ConvertXmfToMidAndDlsForPlay(const char* xmf, const char* mid, const char* dls, const char* playMid,
                                     const char* playDls);
int32_t ConvertXmfToWav(const char* xmf, const char* wav);

}  // namespace cz::api
