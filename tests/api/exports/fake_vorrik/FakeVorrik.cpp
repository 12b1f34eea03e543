// A codec library for the fault tests: its ESB coder starts writing the coded
// file and then fails, as a codec that runs out of room or meets a bad frame
// would; its decoder is never reached.
#include <cstdint>
#include <cstdio>

extern "C" __attribute__((visibility("default"))) int32_t ESB_Encode(void*, const char*, const char* codedPath,
                                                                      int32_t, float, float) {
    if (std::FILE* f = std::fopen(codedPath, "wb")) {
        std::fputs("partial", f);
        std::fclose(f);
    }
    return -1;
}

extern "C" __attribute__((visibility("default"))) int32_t ESB_Decode(const char*, int16_t*, int32_t) { return 0; }
