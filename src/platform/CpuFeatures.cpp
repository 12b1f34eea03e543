#include "platform/CpuFeatures.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define CZ_CPU_X86 1
#else
#define CZ_CPU_X86 0
#endif

namespace cz::platform {

namespace {

CpuTier Detect() {
#if CZ_CPU_X86
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return CpuTier::kPlain;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
        return CpuTier::kAvx512;
    }
    return CpuTier::kAvx2;
#else
    return CpuTier::kPlain;
#endif
}

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

// -1 until the first use reads CADENZOR_CPU.
std::atomic<int> g_active{-1};

int FromEnvironment() {
    const S_CpuTierChoice choice = ChooseCpuTier(std::getenv("CADENZOR_CPU"), MachineCpuTier());
    if (*choice.warning != '\0') {
        std::fprintf(stderr, "cadenzor: %s\n", choice.warning);
    }
    return static_cast<int>(choice.tier);
}

}  // namespace

const char* CpuTierName(CpuTier tier) {
    switch (tier) {
        case CpuTier::kAvx512:
            return "avx512";
        case CpuTier::kAvx2:
            return "avx2";
        case CpuTier::kPlain:
            break;
    }
    return "plain";
}

bool ParseCpuTier(const char* name, CpuTier* tier) {
    if (name == nullptr) return false;
    for (CpuTier t : {CpuTier::kPlain, CpuTier::kAvx2, CpuTier::kAvx512}) {
        if (SameName(name, CpuTierName(t))) {
            *tier = t;
            return true;
        }
    }
    return false;
}

CpuTier MachineCpuTier() {
    static const CpuTier machine = Detect();
    return machine;
}

S_CpuTierChoice ChooseCpuTier(const char* request, CpuTier machine) {
    if (request == nullptr || *request == '\0') return {machine, ""};
    CpuTier asked = machine;
    if (!ParseCpuTier(request, &asked)) {
        return {machine, "CADENZOR_CPU is none of avx512, avx2 and plain; using the processor's best tier"};
    }
    if (static_cast<int>(asked) > static_cast<int>(machine)) {
        return {machine, machine == CpuTier::kAvx2
                             ? "CADENZOR_CPU asks for a tier this processor lacks; using avx2"
                             : "CADENZOR_CPU asks for a tier this processor lacks; using plain"};
    }
    return {asked, ""};
}

CpuTier ActiveCpuTier() {
    int active = g_active.load(std::memory_order_relaxed);
    if (active < 0) {
        // Several threads may get here at once: one of them prints and stores.
        static const int chosen = FromEnvironment();
        int expected = -1;
        g_active.compare_exchange_strong(expected, chosen, std::memory_order_relaxed);
        active = g_active.load(std::memory_order_relaxed);
    }
    return static_cast<CpuTier>(active);
}

CpuTier SetCpuTier(CpuTier tier) {
    const CpuTier machine = MachineCpuTier();
    const CpuTier chosen = static_cast<int>(tier) > static_cast<int>(machine) ? machine : tier;
    g_active.store(static_cast<int>(chosen), std::memory_order_relaxed);
    return chosen;
}

}  // namespace cz::platform
