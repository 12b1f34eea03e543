// A melody tool for the MIDI export tests: ConvertSMFToIMF copies the file
// named by $FAKE_HALVERN_IMF to the IMF path (writes nothing when it is unset)
// and returns $FAKE_HALVERN_RESULT (1 when unset), whatever it wrote.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int32_t ConvertSMFToIMF(const char* /*midi*/, const char* imf) {
    if (const char* from = std::getenv("FAKE_HALVERN_IMF")) {
        FILE* in = std::fopen(from, "rb");
        FILE* out = in ? std::fopen(imf, "wb") : nullptr;
        char buf[4096];
        size_t n = 0;
        while (out && (n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
        if (out) std::fclose(out);
        if (in) std::fclose(in);
    }
    const char* result = std::getenv("FAKE_HALVERN_RESULT");
    return result ? static_cast<int32_t>(std::strtol(result, nullptr, 10)) : 1;
}
