// A format helper for the XMF export tests: every entry logs its call (name
// and arguments, one line each) to $FAKE_KELVRA_LOG, writes the files it is
// given a path for, and returns $FAKE_KELVRA_<entry> (1 when unset; the type
// query returns $FAKE_KELVRA_TYPE, 7 when unset). Built in variants that
// leave out one entry (FAKE_KELVRA_WITHOUT_<entry>).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int32_t Result(const char* entry, int32_t fallback = 1) {
    const char* value = std::getenv((std::string("FAKE_KELVRA_") + entry).c_str());
    return value ? static_cast<int32_t>(std::strtol(value, nullptr, 10)) : fallback;
}

void Log(const char* entry, const char* a, const char* b = nullptr, const char* c = nullptr) {
    const char* log = std::getenv("FAKE_KELVRA_LOG");
    if (!log) return;
    if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %s%s%s%s%s\n", entry, a ? a : "", b ? " " : "", b ? b : "", c ? " " : "", c ? c : "");
        std::fclose(f);
    }
}

void Touch(const char* path) {
    if (!path) return;
    if (FILE* f = std::fopen(path, "wb")) {
        std::fputs("written", f);
        std::fclose(f);
    }
}

}  // namespace

#ifndef FAKE_KELVRA_WITHOUT_GetXMFResourceType
FAKE_EXPORT int32_t GetXMFResourceType(const char* xmf) {
    Log("GetXMFResourceType", xmf);
    return Result("TYPE", 7);
}
#endif
#ifndef FAKE_KELVRA_WITHOUT_ConvertToSMF
FAKE_EXPORT int32_t ConvertToSMF(const char* xmf, const char* mid) {
    Log("ConvertToSMF", xmf, mid);
    Touch(mid);
    return Result("ConvertToSMF");
}
#endif
#ifndef FAKE_KELVRA_WITHOUT_ConvertToSMFWithDLS
FAKE_EXPORT int32_t ConvertToSMFWithDLS(const char* xmf, const char* mid, const char* dls) {
    Log("ConvertToSMFWithDLS", xmf, mid, dls);
    Touch(mid);
    Touch(dls);
    return Result("ConvertToSMFWithDLS");
}
#endif
FAKE_EXPORT int32_t InsertBankEvent(const char* mid, const char* playMid) {
    Log("InsertBankEvent", mid, playMid);
    Touch(playMid);
    return Result("InsertBankEvent");
}
FAKE_EXPORT int32_t FixedDls(const char* dls, const char* playDls) {
    Log("FixedDls", dls, playDls);
    Touch(playDls);
    return Result("FixedDls");
}
FAKE_EXPORT int32_t ConvertToRBF(const char* xmf, const char* rbf) {
    Log("ConvertToRBF", xmf, rbf);
    // Copies $FAKE_KELVRA_RBF_SOURCE to the output when set.
    if (const char* source = std::getenv("FAKE_KELVRA_RBF_SOURCE")) {
        FILE* in = std::fopen(source, "rb");
        FILE* out = std::fopen(rbf, "wb");
        int ch = 0;
        while (in && out && (ch = std::fgetc(in)) != EOF) std::fputc(ch, out);
        if (in) std::fclose(in);
        if (out) std::fclose(out);
    } else {
        Touch(rbf);
    }
    return Result("ConvertToRBF");
}
