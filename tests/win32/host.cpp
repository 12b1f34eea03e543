// A minimal host of the library: loads it at run time as the authoring tool
// does, resolves the exports by name through function-pointer types with the
// library's calling convention, and runs a table of calls.
//
//   host <library> <input folder> <output folder>
//
// On Windows <library> is Cadenzor.dll (LoadLibraryA, GetProcAddress, stdcall
// on 32-bit); the same source builds on Linux against libcadenzor.so (dlopen),
// so scripts/win32-smoke.sh can run the identical table on both systems and
// compare every output byte for byte.
//
// Inputs are made here, from code, so both sides start from the same bytes;
// files the script put in the input folder (sample.mp3, ...) are used when
// present. Each row prints "label result"; the script compares those lines
// and the output files. Rows with a fixed expectation also check it here.
// Output: "N passed, N failed"; exit status 1 when a row failed.
#include "cadenzor/cadenzor.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "../dsp/resample/ReferenceResample.h"
#include "../support/RiffBuilder.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define CZ_HOST_CALL __stdcall
#else
#include <dlfcn.h>
#define CZ_HOST_CALL
#endif

// The numeric checks below compute their expectations in this program; they
// mean something only when it does its double arithmetic in 64 bits, as the
// library must (on 32-bit x86: SSE2, not the x87 unit).
static_assert(FLT_EVAL_METHOD == 0, "doubles must be evaluated in 64 bits (SSE2 on 32-bit x86)");

namespace {

using cz::test::Le16At;
using cz::test::Put16;
using cz::test::Put32;
using cz::test::PutTag;
using cz::test::RiffBuilder;
using cz::test::Samples16;
using cz::test::SplitWav;
using cz::test::WavChunks;

// The call shapes of the exports, written out here rather than taken from
// the header so that a header whose calling convention or arguments drift
// from the table fails to compile (see the static_asserts below).
using U32 = uint32_t;
using P = const char*;
typedef int32_t(CZ_HOST_CALL* Fn1)(P);
typedef int32_t(CZ_HOST_CALL* Fn2)(P, P);
typedef int32_t(CZ_HOST_CALL* Fn3)(P, P, P);
typedef int32_t(CZ_HOST_CALL* Fn2R)(P, P, U32);
typedef int32_t(CZ_HOST_CALL* Fn3R)(P, P, P, U32);
typedef int32_t(CZ_HOST_CALL* FnCodec)(P, P, P, U32, U32);
typedef int32_t(CZ_HOST_CALL* FnEsb)(P, P, P, U32, U32, U32, U32);
typedef int32_t(CZ_HOST_CALL* Fn5)(P, P, P, P, P);
typedef int32_t(CZ_HOST_CALL* FnChip)(uintptr_t, uintptr_t, uintptr_t);

static_assert(std::is_same_v<Fn1, decltype(&CheckSupportWavFile)>);
static_assert(std::is_same_v<Fn1, decltype(&GetXMFResourceType)>);
static_assert(std::is_same_v<Fn2, decltype(&ConvertMP3ToWAV)>);
static_assert(std::is_same_v<Fn2, decltype(&ConvertMDMToWAV)>);
static_assert(std::is_same_v<Fn3, decltype(&ConvertWAVToAPM)>);
static_assert(std::is_same_v<Fn3, decltype(&ConvertXMFToMIDAndDLS)>);
static_assert(std::is_same_v<Fn2R, decltype(&WAVResample)>);
static_assert(std::is_same_v<Fn2R, decltype(&RbfCutToFitSize)>);
static_assert(std::is_same_v<Fn3R, decltype(&ConvertWAVToAPMWithResample)>);
static_assert(std::is_same_v<Fn3R, decltype(&ConvertMP3ToMDMWithResample)>);
static_assert(std::is_same_v<FnCodec, decltype(&ConvertWAVToMCP)>);
static_assert(std::is_same_v<FnCodec, decltype(&ConvertWAVToWLP)>);
static_assert(std::is_same_v<FnEsb, decltype(&ConvertWAVToESB)>);
static_assert(std::is_same_v<Fn5, decltype(&ConvertXMFToMIDAndDLSForPlay)>);
static_assert(std::is_same_v<FnChip, decltype(&ConvertMIDToIMFByChipItem)>);

enum class Shape { k1, k2, k3, k2R, k3R, kCodec, kEsb, k5 };

constexpr int32_t kAny = INT32_MIN;  // no fixed expectation: compared across systems only

// One call. "in" names a file of the input folder ("" for none); "outs" are
// output file names (in the output folder) in argument order; "n" are the
// numeric arguments in order.
struct Row {
    const char* label;
    const char* exportName;
    Shape shape;
    const char* in;
    std::vector<const char*> outs;
    std::vector<U32> n;
    int32_t expect;
};

// New conversions are one line each.
const std::vector<Row> kRows = {
    {"check-wav", "CheckSupportWavFile", Shape::k1, "tone16k.wav", {}, {}, 1},
    {"check-wav8", "CheckSupportWavFile", Shape::k1, "tone8k8bit.wav", {}, {}, 1},
    {"check-missing", "CheckSupportWavFile", Shape::k1, "missing.wav", {}, {}, 0},
    {"check-not-wave", "CheckSupportWavFile", Shape::k1, "notwave.riff", {}, {}, 0},
    {"check-text", "CheckSupportWavFile", Shape::k1, "text.txt", {}, {}, kAny},
    {"resample-16k-8k", "WAVResample", Shape::k2R, "tone16k.wav", {"resample-16k-8k.wav"}, {8000}, 1},
    {"resample-16k-22k", "WAVResample", Shape::k2R, "tone16k.wav", {"resample-16k-22k.wav"}, {22050}, 1},
    {"resample-8bit-16k", "WAVResample", Shape::k2R, "tone8k8bit.wav", {"resample-8bit-16k.wav"}, {16000}, 1},
    {"resample-missing", "WAVResample", Shape::k2R, "missing.wav", {"resample-missing.wav"}, {8000}, 0},
    {"apm", "ConvertWAVToAPM", Shape::k3, "tone16k.wav", {"apm.apm", "apm.bin"}, {}, kAny},
    {"mdm", "ConvertWAVToMDM", Shape::k3, "tone16k.wav", {"mdm.mdm", "mdm.bin"}, {}, kAny},
    {"apm-resample",
     "ConvertWAVToAPMWithResample",
     Shape::k3R,
     "tone16k.wav",
     {"apm-r.apm", "apm-r.bin"},
     {8000},
     kAny},
    {"mdm-resample",
     "ConvertWAVToMDMWithResample",
     Shape::k3R,
     "tone16k.wav",
     {"mdm-r.mdm", "mdm-r.bin"},
     {8000},
     kAny},
    {"esb", "ConvertWAVToESB", Shape::kEsb, "tone16k.wav", {"esb.esb", "esb.bin"}, {0, 1, 12345, 0}, kAny},
    {"mcp", "ConvertWAVToMCP", Shape::kCodec, "tone16k.wav", {"mcp.mcp", "mcp.bin"}, {0, 3}, kAny},
    {"wlp", "ConvertWAVToWLP", Shape::kCodec, "tone16k.wav", {"wlp.wlp", "wlp.bin"}, {0, 3}, kAny},
    {"xmf", "ConvertWAVToXMF", Shape::k2, "tone16k.wav", {"xmf.xmf"}, {}, kAny},
    {"mdm-to-wav-by-ext", "ConvertMDMToWAV", Shape::k2, "tone16k.wav", {"mdm-wav.wav"}, {}, 0},
    {"mp3-wav", "ConvertMP3ToWAV", Shape::k2, "sample.mp3", {"mp3.wav"}, {}, kAny},
    {"mp3-wav-8k", "ConvertMP3ToWAVWithResample", Shape::k2R, "sample.mp3", {"mp3-8k.wav"}, {8000}, kAny},
    {"mp3-apm-8k", "ConvertMP3ToAPMWithResample", Shape::k3R, "sample.mp3", {"mp3-8k.apm", "mp3-8k.bin"}, {8000}, kAny},
    {"mp3-missing", "ConvertMP3ToWAV", Shape::k2, "missing.mp3", {"mp3-missing.wav"}, {}, 0},
    {"wma-wav", "ConvertWMAToWAV", Shape::k2, "voice.wma", {"wma.wav"}, {}, kAny},
    {"mid-xmf", "ConvertMIDToXMF", Shape::k2, "song.mid", {"mid.xmf"}, {}, kAny},
    {"xmf-type", "GetXMFResourceType", Shape::k1, "song.mxmf", {}, {}, kAny},
    {"xmf-mid", "ConvertXMFToMID", Shape::k2, "song.mxmf", {"xmf.mid"}, {}, kAny},
    {"rbf-cut-missing", "RbfCutToFitSize", Shape::k2R, "missing.rbf", {"cut.rbf"}, {4096}, 0},
};

// ---- input files ----

// PCM WAV of a tone sweep. Integer arithmetic on a fixed table, so both
// systems write the same bytes whatever their libm.
std::vector<uint8_t> MakeWav(uint32_t rate, uint16_t bits, uint32_t frames) {
    std::vector<uint8_t> data;
    uint32_t phase = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        phase += 40u + (i * 7u) / frames * 10u;  // rising pitch in steps
        int32_t tri = static_cast<int32_t>(phase & 0x3FFF);
        tri = tri < 0x2000 ? tri : 0x3FFF - tri;  // 0..0x1FFF triangle
        int32_t sample = (tri - 0x1000) * 6;      // about -24576..24570
        if (i % 4000 < 800) sample /= 16;         // quiet stretches
        if (bits == 8)
            data.push_back(static_cast<uint8_t>((sample >> 8) + 128));
        else
            Put16(data, static_cast<uint16_t>(static_cast<int16_t>(sample)));
    }
    return RiffBuilder().Fmt(1, 1, rate, bits).Chunk("data", data, false).Bytes();
}

std::vector<uint8_t> MakeNotWave() {
    std::vector<uint8_t> b;
    PutTag(b, "RIFF");
    Put32(b, 12);
    PutTag(b, "AVI ");
    PutTag(b, "JUNK");
    Put32(b, 0);
    return b;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// A POSIX path given to the Windows host under Wine names drive Z:.
std::string NativePath(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (auto& c : path)
        if (c == '/') c = '\\';
    if (!path.empty() && path.back() != '\\') path += '\\';
#else
    if (!path.empty() && path.back() != '/') path += '/';
#endif
    return path;
}

// ---- the library ----

struct Loaded {
#ifdef _WIN32
    HMODULE module = nullptr;
    void* Find(const char* name) const {
        FARPROC proc = ::GetProcAddress(module, name);
        void* p = nullptr;
        std::memcpy(&p, &proc, sizeof p);
        return p;
    }
#else
    void* module = nullptr;
    void* Find(const char* name) const { return ::dlsym(module, name); }
#endif
};

bool Load(const std::string& path, Loaded* lib) {
#ifdef _WIN32
    lib->module = ::LoadLibraryA(path.c_str());
    if (!lib->module) std::printf("cannot load %s: error %lu\n", path.c_str(), ::GetLastError());
#else
    lib->module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib->module) std::printf("cannot load %s: %s\n", path.c_str(), ::dlerror());
#endif
    return lib->module != nullptr;
}

template <typename Fn>
Fn As(void* p) {
    Fn fn;
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

int32_t Call(const Row& row, void* entry, const std::string& in, const std::vector<std::string>& outs) {
    auto o = [&](size_t i) { return outs.at(i).c_str(); };
    auto n = [&](size_t i) { return row.n.at(i); };
    switch (row.shape) {
        case Shape::k1: return As<Fn1>(entry)(in.c_str());
        case Shape::k2: return As<Fn2>(entry)(in.c_str(), o(0));
        case Shape::k3: return As<Fn3>(entry)(in.c_str(), o(0), o(1));
        case Shape::k2R: return As<Fn2R>(entry)(in.c_str(), o(0), n(0));
        case Shape::k3R: return As<Fn3R>(entry)(in.c_str(), o(0), o(1), n(0));
        case Shape::kCodec: return As<FnCodec>(entry)(in.c_str(), o(0), o(1), n(0), n(1));
        case Shape::kEsb: return As<FnEsb>(entry)(in.c_str(), o(0), o(1), n(0), n(1), n(2), n(3));
        case Shape::k5: return As<Fn5>(entry)(in.c_str(), o(0), o(1), o(2), o(3));
    }
    return kAny;
}

// PCM WAV of noise from a fixed linear congruential generator.
std::vector<uint8_t> MakeNoiseWav(uint32_t rate, uint32_t frames, std::vector<int16_t>* samples) {
    std::vector<uint8_t> data;
    uint32_t state = rate;
    samples->clear();
    for (uint32_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const auto v = static_cast<int16_t>(static_cast<int32_t>(state >> 16) - 32768);
        samples->push_back(v);
        Put16(data, static_cast<uint16_t>(v));
    }
    return RiffBuilder().Fmt(1, 1, rate, 16).Chunk("data", data).Bytes();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

// The 16-bit samples of a WAV file's data chunk; empty when there is none.
std::vector<int16_t> WavSamples(const std::vector<uint8_t>& b) {
    WavChunks chunks;
    return SplitWav(b, chunks) ? Samples16(chunks.data) : std::vector<int16_t>{};
}

// Results where an extended-precision unit or a fused multiply-add would
// change the bytes, each checked here against the 64-bit double formula:
// the cut-off frequency of the chip headers, (rate / 2) x 0.85 truncated (an
// x87 unit makes 6800 into 6799), and resampling between rates whose output
// positions fall on whole source samples (there a position one ulp short
// takes the neighbouring sample's kernel row).
struct Tally {
    int passed = 0, failed = 0;
    void Check(bool ok, const std::string& what) {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAIL %s\n", what.c_str());
        }
    }
};

void CheckFloatingPointHazards(const Loaded& lib, const std::string& inDir, const std::string& outDir, Tally& tally) {
    auto apm = As<Fn3>(lib.Find("ConvertWAVToAPM"));
    auto mdm = As<Fn3>(lib.Find("ConvertWAVToMDM"));
    auto resample = As<Fn2R>(lib.Find("WAVResample"));
    if (!apm || !mdm || !resample) {
        tally.Check(false, "hazard checks: exports missing");
        return;
    }
    for (uint32_t rate : {8000u, 11025u, 16000u, 20000u, 22050u, 32000u, 44100u, 48000u}) {
        const std::string in = inDir + "cutoff-" + std::to_string(rate) + ".wav";
        WriteFileBytes(in, MakeWav(rate, 16, 1200));
        const uint32_t expected = static_cast<uint32_t>(static_cast<double>(rate / 2) * 0.85);
        const std::pair<const char*, Fn3> writers[] = {{"apm", apm}, {"mdm", mdm}};
        for (const auto& [ext, fn] : writers) {
            const std::string out = outDir + "cutoff-" + std::to_string(rate) + "." + ext;
            const std::string bin = outDir + "cutoff-" + std::to_string(rate) + "-" + ext + ".bin";
            const int32_t result = fn(in.c_str(), out.c_str(), bin.c_str());
            const std::vector<uint8_t> bytes = ReadFileBytes(out);
            const uint32_t got = bytes.size() >= 16 ? Le16At(bytes, 14) : 0;
            std::printf("cutoff-%s-%u %u\n", ext, rate, got);
            tally.Check(result == 1 && got == expected, std::string("cut-off of ") + ext + " at " +
                                                            std::to_string(rate) + " Hz: " + std::to_string(got) +
                                                            ", expected " + std::to_string(expected));
        }
    }
    const std::pair<uint32_t, uint32_t> pairs[] = {{16000, 22050}, {8000, 16000}, {22050, 11025}, {48000, 16000}};
    for (const auto& [from, to] : pairs) {
        const std::string name = "whole-" + std::to_string(from) + "-" + std::to_string(to);
        std::vector<int16_t> x;
        WriteFileBytes(inDir + name + ".wav", MakeNoiseWav(from, from / 2, &x));
        const int32_t result = resample((inDir + name + ".wav").c_str(), (outDir + name + ".wav").c_str(), to);
        const std::vector<int16_t> y = WavSamples(ReadFileBytes(outDir + name + ".wav"));
        const auto count = static_cast<size_t>(std::trunc(static_cast<double>(to) / from * x.size() + 0.5));
        const std::vector<int16_t> want = cz::test::reference::Sinc(static_cast<double>(to) / from, x, count);
        int worst = y.size() == want.size() ? 0 : 65536;
        for (size_t j = 0; j < std::min(y.size(), want.size()); ++j) worst = std::max(worst, std::abs(y[j] - want[j]));
        std::printf("%s %d\n", name.c_str(), worst);
        // Sums landing within rounding of a whole number may differ by 1
        // from the left-to-right evaluation; a wrong position gives hundreds.
        tally.Check(result == 1 && worst <= 1, name + ": " + std::to_string(y.size()) + " samples of " +
                                                   std::to_string(want.size()) + ", worst difference " +
                                                   std::to_string(worst));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: host <library> <input folder> <output folder>\n");
        return 2;
    }
    std::string inDir = NativePath(argv[2]);
    std::string outDir = NativePath(argv[3]);
    std::string library = argv[1];
#ifdef _WIN32
    if (!library.empty() && library[0] == '/') library = NativePath(library), library.pop_back();
#endif

    struct Input {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Input inputs[] = {
        {"tone16k.wav", MakeWav(16000, 16, 24000)},
        {"tone8k8bit.wav", MakeWav(8000, 8, 9000)},
        {"notwave.riff", MakeNotWave()},
        {"text.txt", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}},
    };
    for (const auto& input : inputs) {
        if (!WriteFileBytes(inDir + input.name, input.bytes)) {
            std::printf("cannot write %s%s\n", inDir.c_str(), input.name);
            return 2;
        }
    }

    Loaded lib;
    if (!Load(library, &lib)) return 2;

    int passed = 0, failed = 0, skipped = 0;
    for (const auto& row : kRows) {
        void* entry = lib.Find(row.exportName);
        if (!entry) {
            std::printf("FAIL %s: no export %s\n", row.label, row.exportName);
            ++failed;
            continue;
        }
        std::string in = inDir + row.in;
        // Rows on optional inputs run only where the input is there (never
        // a "missing" row: those test the missing file).
        if (std::strncmp(row.in, "missing", 7) != 0 && !Exists(in)) {
            std::printf("%s skipped (no %s)\n", row.label, row.in);
            ++skipped;
            continue;
        }
        std::vector<std::string> outs;
        for (const char* name : row.outs) outs.push_back(outDir + name);
        int32_t result = Call(row, entry, in, outs);
        std::printf("%s %d\n", row.label, result);
        if (row.expect != kAny && result != row.expect) {
            std::printf("FAIL %s: %s returned %d, expected %d\n", row.label, row.exportName, result, row.expect);
            ++failed;
        } else {
            ++passed;
        }
    }
    Tally hazards;
    CheckFloatingPointHazards(lib, inDir, outDir, hazards);
    passed += hazards.passed;
    failed += hazards.failed;
    std::fflush(stdout);
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    return failed ? 1 : 0;
}
