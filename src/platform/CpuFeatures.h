// The processor's kernel tier: which of the vector forms of the hot loops
// (MP3 filter bank, resampler, ADPCM search) may run. Every form gives the
// same bytes; the tier only decides speed.
//
// The environment variable CADENZOR_CPU (avx512, avx2 or plain) caps the
// tier; a tier the machine lacks falls back to the best it has, with one
// warning on stderr.
#pragma once

namespace cz::platform {

enum class CpuTier { kPlain = 0, kAvx2 = 1, kAvx512 = 2 };

// "plain", "avx2" or "avx512".
const char* CpuTierName(CpuTier tier);

// Reads a tier's name (case-insensitive); false when the name is none.
bool ParseCpuTier(const char* name, CpuTier* tier);

// The best tier this processor and its operating system support. AVX-512
// counts only with the F, BW, DQ and VL parts.
CpuTier MachineCpuTier();

// The tier the kernels use: the machine's, lowered by CADENZOR_CPU or by
// SetCpuTier.
CpuTier ActiveCpuTier();

// True when the active tier is at least `tier`.
inline bool CpuTierActive(CpuTier tier) { return static_cast<int>(ActiveCpuTier()) >= static_cast<int>(tier); }

// Sets the tier for this process (tests and benchmarks compare them); a
// tier above the machine's is lowered to it. Returns the tier now active.
CpuTier SetCpuTier(CpuTier tier);

// The tier asked for by `request` (CADENZOR_CPU's text; null or empty for
// none) on a machine of `machine`, and the warning to print, if any (empty
// when none).
struct S_CpuTierChoice {
    CpuTier tier;
    const char* warning;  // static text, never null
};
S_CpuTierChoice ChooseCpuTier(const char* request, CpuTier machine);

}  // namespace cz::platform
