#include "api/FormatClasses.h"

#include <array>

#include "formats/apm/C_Apm6BitFile.h"
#include "formats/apm/C_ApmFile.h"
#include "formats/apm/C_NewApmFile.h"
#include "formats/mdm/C_MdmFile.h"
#include "formats/mpm/C_MpmFile.h"
#include "formats/src/C_EnSrcFile.h"
#include "formats/src/C_SrcFile.h"
#include "wave/C_WavFile.h"

namespace cz {

namespace {

template <typename T>
std::unique_ptr<C_WavFile> Make() {
    return std::make_unique<T>();
}

// Opening order. The first class that accepts a file wins, so every class
// must refuse the files of the classes after it; the loosest readers come
// last. C_SrcFile comes first: a RIFF/WAVE file has no "WPCM" header, so it
// falls through to C_WavFile in second place.
constexpr std::array<S_FormatClass, 34> kOpenOrder{{
    {1, "C_SrcFile", &Make<C_SrcFile>},
    {2, "C_WavFile", &Make<C_WavFile>},
    {3, "C_WamFile", nullptr},
    {4, "C_WmdFile", nullptr},
    {7, "C_Q310WmdFile", nullptr},
    {5, "C_NewApmFile", &Make<C_NewApmFile>},
    {5, "C_ApmFile", &Make<C_ApmFile>},
    {6, "C_MpmFile", &Make<C_MpmFile>},
    {8, "C_Pc8File", nullptr},
    {21, "C_Lp8File", nullptr},
    {12, "C_P10File", nullptr},
    {14, "C_Apm6BitFile", &Make<C_Apm6BitFile>},
    {15, "C_MdmFile", &Make<C_MdmFile>},
    {17, "C_Mdm6BitFile", nullptr},
    {22, "C_Clp1File", nullptr},
    {23, "C_Clp2File", nullptr},
    {16, "C_Clp3File", nullptr},
    {18, "C_EamFile", nullptr},
    {19, "C_EmmFile", nullptr},
    {20, "C_E2aFile", nullptr},
    {24, "C_PamFile", nullptr},
    {27, "C_MclpFile", nullptr},
    {28, "C_SbdFile", nullptr},
    {29, "C_WlpcFile", nullptr},
    {30, "C_P16File", nullptr},
    {43, "C_Q420MpmFile", nullptr},
    {44, "C_Q420PcmFile", nullptr},
    {0, "C_RBFFile", nullptr},
    {37, "C_EsbFile", nullptr},
    {39, "C_S08File", nullptr},
    {40, "C_S16File", nullptr},
    {41, "C_SamFile", nullptr},
    {42, "C_SmmFile", nullptr},
    {46, "C_MvclpFile", nullptr},
}};

// Probe table, in its own order of ids. Ids 1 and 13 both probe the source
// file class and tell plain from scrambled files by its variant flag; the two
// id 5 entries probe the new APM class first.
constexpr std::array<S_FormatProbe, 34> kProbes{{
    {1, "C_SrcFile", &Make<C_SrcFile>, ProbeVariant::kPlain},
    {13, "C_SrcFile", &Make<C_SrcFile>, ProbeVariant::kVariant},
    {2, "C_WavFile", &Make<C_WavFile>, ProbeVariant::kAny},
    {3, "C_WamFile", nullptr, ProbeVariant::kAny},
    {4, "C_WmdFile", nullptr, ProbeVariant::kAny},
    {7, "C_Q310WmdFile", nullptr, ProbeVariant::kAny},
    {5, "C_NewApmFile", &Make<C_NewApmFile>, ProbeVariant::kAny},
    {5, "C_ApmFile", &Make<C_ApmFile>, ProbeVariant::kAny},
    {6, "C_MpmFile", &Make<C_MpmFile>, ProbeVariant::kAny},
    {8, "C_Pc8File", nullptr, ProbeVariant::kAny},
    {21, "C_Lp8File", nullptr, ProbeVariant::kAny},
    {12, "C_P10File", nullptr, ProbeVariant::kAny},
    {14, "C_Apm6BitFile", &Make<C_Apm6BitFile>, ProbeVariant::kAny},
    {15, "C_MdmFile", &Make<C_MdmFile>, ProbeVariant::kAny},
    {17, "C_Mdm6BitFile", nullptr, ProbeVariant::kAny},
    {22, "C_Clp1File", nullptr, ProbeVariant::kAny},
    {23, "C_Clp2File", nullptr, ProbeVariant::kAny},
    {16, "C_Clp3File", nullptr, ProbeVariant::kAny},
    {18, "C_EamFile", nullptr, ProbeVariant::kAny},
    {19, "C_EmmFile", nullptr, ProbeVariant::kAny},
    {20, "C_E2aFile", nullptr, ProbeVariant::kAny},
    {24, "C_PamFile", nullptr, ProbeVariant::kAny},
    {27, "C_MclpFile", nullptr, ProbeVariant::kAny},
    {28, "C_SbdFile", nullptr, ProbeVariant::kAny},
    {29, "C_WlpcFile", nullptr, ProbeVariant::kAny},
    {30, "C_P16File", nullptr, ProbeVariant::kAny},
    {37, "C_EsbFile", nullptr, ProbeVariant::kAny},
    {39, "C_S08File", nullptr, ProbeVariant::kAny},
    {40, "C_S16File", nullptr, ProbeVariant::kAny},
    {41, "C_SamFile", nullptr, ProbeVariant::kAny},
    {42, "C_SmmFile", nullptr, ProbeVariant::kAny},
    {43, "C_Q420MpmFile", nullptr, ProbeVariant::kAny},
    {44, "C_Q420PcmFile", nullptr, ProbeVariant::kAny},
    {46, "C_MvclpFile", nullptr, ProbeVariant::kAny},
}};

// Writers by format id. Id 5 is written by C_ApmFile, the class whose coder
// the APM conversion is built on; C_NewApmFile stays a reader.
constexpr std::array<S_FormatClass, 33> kWriters{{
    {1, "C_SrcFile", &Make<C_SrcFile>},
    {2, "C_WavFile", &Make<C_WavFile>},
    {3, "C_WamFile", nullptr},
    {4, "C_WmdFile", nullptr},
    {5, "C_ApmFile", &Make<C_ApmFile>},
    {6, "C_MpmFile", &Make<C_MpmFile>},
    {7, "C_Q310WmdFile", nullptr},
    {8, "C_Pc8File", nullptr},
    {12, "C_P10File", nullptr},
    {13, "C_EnSrcFile", &Make<C_EnSrcFile>},
    {14, "C_Apm6BitFile", &Make<C_Apm6BitFile>},
    {15, "C_MdmFile", &Make<C_MdmFile>},
    {16, "C_Clp3File", nullptr},
    {17, "C_Mdm6BitFile", nullptr},
    {18, "C_EamFile", nullptr},
    {19, "C_EmmFile", nullptr},
    {20, "C_E2aFile", nullptr},
    {21, "C_Lp8File", nullptr},
    {22, "C_Clp1File", nullptr},
    {23, "C_Clp2File", nullptr},
    {24, "C_PamFile", nullptr},
    {27, "C_MclpFile", nullptr},
    {28, "C_SbdFile", nullptr},
    {29, "C_WlpcFile", nullptr},
    {30, "C_P16File", nullptr},
    {37, "C_EsbFile", nullptr},
    {39, "C_S08File", nullptr},
    {40, "C_S16File", nullptr},
    {41, "C_SamFile", nullptr},
    {42, "C_SmmFile", nullptr},
    {43, "C_Q420MpmFile", nullptr},
    {44, "C_Q420PcmFile", nullptr},
    {46, "C_MvclpFile", nullptr},
}};

}  // namespace

std::span<const S_FormatClass> FormatOpenOrder() { return kOpenOrder; }
std::span<const S_FormatProbe> FormatProbes() { return kProbes; }

std::unique_ptr<C_WavFile> CreateFormatWriter(uint32_t formatId) {
    for (const auto& row : kWriters)
        if (row.id == formatId) return row.create ? row.create() : nullptr;
    return nullptr;
}

const char* FormatWriterName(uint32_t formatId) {
    for (const auto& row : kWriters)
        if (row.id == formatId) return row.className;
    return nullptr;
}

}  // namespace cz
