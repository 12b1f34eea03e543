#include "api/chains/XmfReading.h"

#include <optional>
#include <string>

#include "api/chains/Chains.h"
#include "formats/rbf/RbfFile.h"
#include "foundation/LibraryLoader.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "cadenzor/cadenzor.h"

namespace cz::api {

namespace {

constexpr const char* kHelperName = "Kelvra.dll";

using TypeFn = int32_t(CZ_CALL*)(const char*);
using TwoPathFn = int32_t(CZ_CALL*)(const char*, const char*);
using ThreePathFn = int32_t(CZ_CALL*)(const char*, const char*, const char*);

// The helper library for one call, loaded from the library's own folder and
// freed when this goes out of scope; silent, as these exports show nothing.
struct Helper {
    std::unique_ptr<platform::Library> library;
    void* Entry(const char* name) const { return GetProcAddressWithMessage(library.get(), name, nullptr, 0, false); }
    // The type the helper reports, none when it cannot be asked.
    std::optional<int32_t> Type(const char* xmf) const {
        auto fn = EntryAs<TypeFn>(Entry("GetXMFResourceType"));
        if (!fn) return std::nullopt;
        return fn(xmf);
    }
};

std::optional<Helper> LoadHelper() {
    Helper helper{LoadLibraryWithMessage(kHelperName, nullptr, 0, false)};
    if (!helper.library) return std::nullopt;
    return helper;
}

}  // namespace

int32_t XmfResourceType(const char* xmf) {
    if (!ValidPath(xmf)) return -1;
    auto helper = LoadHelper();
    if (!helper) return -1;
    return helper->Type(xmf).value_or(-1);
}

namespace {

bool ExportTakesType(int32_t type, bool withLyricMelody) {
    return type == 1 || type == 2 || type == 3 || type == 4 || type == 6 || type == 7 || (withLyricMelody && type == 8);
}

int32_t XmfToMid(const char* xmf, const char* mid, bool withLyricMelody) {
    if (!ValidPath(xmf) || !ValidPath(mid)) return 0;
    if (!DistinctFiles({xmf}, {mid}, InPlace::kRefused)) return 0;
    auto helper = LoadHelper();
    if (!helper) return 0;
    const auto type = helper->Type(xmf);
    if (!type || !ExportTakesType(*type, withLyricMelody)) return 0;
    auto convert = EntryAs<TwoPathFn>(helper->Entry("ConvertToSMF"));
    // Without the entry nothing is written: that is a failure, not success.
    if (!convert) return 0;
    return convert(xmf, mid);
}

}  // namespace

int32_t ConvertXmfToMid(const char* xmf, const char* mid) { return XmfToMid(xmf, mid, false); }
int32_t ConvertXmfMelodyToMid(const char* xmf, const char* mid) { return XmfToMid(xmf, mid, true); }

int32_t ConvertXmfToMidAndDls(const char* xmf, const char* mid, const char* dls) {
    if (!ValidPath(xmf) || !ValidPath(mid) || !ValidPath(dls)) return 0;
    if (!DistinctFiles({xmf}, {mid, dls}, InPlace::kRefused)) return 0;
    auto helper = LoadHelper();
    if (!helper) return 0;
    if (helper->Type(xmf) != 7) return 0;
    auto convert = EntryAs<ThreePathFn>(helper->Entry("ConvertToSMFWithDLS"));
    if (!convert) return 0;
    return convert(xmf, mid, dls);
}

int32_t ConvertXmfToMidAndDlsForPlay(const char* xmf, const char* mid, const char* dls, const char* playMid,
                                     const char* playDls) {
    if (!ValidPath(xmf) || !ValidPath(mid) || !ValidPath(dls) || !ValidPath(playMid) || !ValidPath(playDls)) return 0;
    // Four distinct outputs, none of them the XMF: the clean-up deletes all four.
    if (!DistinctFiles({xmf}, {mid, dls, playMid, playDls}, InPlace::kRefused)) return 0;
    auto helper = LoadHelper();
    if (!helper) return 0;
    if (helper->Type(xmf) != 7) return 0;
    int32_t r = 1;
    if (auto split = EntryAs<ThreePathFn>(helper->Entry("ConvertToSMFWithDLS"))) r = split(xmf, mid, dls);
    if (r != 0) {
        auto bank = EntryAs<TwoPathFn>(helper->Entry("InsertBankEvent"));
        r = bank ? bank(mid, playMid) : 0;
    }
    if (r != 0) {
        auto fix = EntryAs<TwoPathFn>(helper->Entry("FixedDls"));
        r = fix ? fix(dls, playDls) : 0;
    }
    if (r == 1) return 1;
    for (const char* path : {mid, playMid, dls, playDls}) platform::DeleteFile(path);
    return r;
}

int32_t ConvertXmfToWav(const char* xmf, const char* wav) {
    if (!ValidPath(xmf) || !ValidPath(wav)) return 0;
    if (!DistinctFiles({xmf}, {wav}, InPlace::kRefused)) return 0;
    auto helper = LoadHelper();
    if (!helper) return 0;
    if (helper->Type(xmf) != 5) return 0;
    auto extract = EntryAs<TwoPathFn>(helper->Entry("ConvertToRBF"));
    if (!extract) return 0;
    // The resource goes to a private folder that is removed on every path.
    auto temp = platform::TempFolder::Create();
    if (!temp) return 0;
    const std::string rbf = temp->File("resource.rbf");
    if (extract(xmf, rbf.c_str()) == 0) return 0;
    return ConvertRbfToWav(rbf.c_str(), wav);
}

}  // namespace cz::api
