// The ROM planner: for a set of prompts (and melodies) and a memory budget,
// the coding of each prompt that gives the best sound while the whole pack
// image fits.
//
//   Collect   files and folders -> the inputs, in a stable order
//   Survey    every input coded in every choice (format, rate, coder
//             setting) for real: the exact bytes of its resource binary and
//             the quality of what the chip plays; cached by the input's
//             content and the choice, so a second survey reads the cache
//   Optimise  per prompt the choice that maximises the worst prompt's
//             quality (then the mean with what is left), or the mean; sizes
//             are exact bytes of the pack image
//   Apply     the chosen codings written out (outputs, binaries) or as one
//             pack image with its header
//
// Quality is the segmental SNR of the sound the chip plays, resampled back
// to the source's rate, against the source itself: the bandwidth a lower
// rate loses counts against it. Plain SNR is kept beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/Profile.h"
#include "api/planner/PackImage.h"
#include "foundation/I_ProgressCallback.h"

namespace cz::api::planner {

// One way to code a prompt.
struct Choice {
    uint32_t format = 0;    // FormatId of the chip file
    std::string extension;  // "apm", "esb", ... ("imf" for a melody)
    uint32_t rate = 0;      // sample rate of the coding; 0 for a melody
    bool haveParam = false;
    uint32_t param = 0;  // the codec parameter (APM mode, ESB/SBD bit rate)
    // "apm 8000 pad", "esb 6000 8kbit/s", "imf".
    std::string Label() const;
    // What the cache keys the choice by.
    std::string Key() const;
};

// What a choice gave for one prompt.
struct Outcome {
    Choice choice;
    bool ok = false;
    std::string reason;    // when not ok
    uint64_t bytes = 0;    // the resource binary
    double segmental = 0;  // dB, what the chip plays against the source
    double snr = 0;        // dB
};

struct Prompt {
    std::string path;
    bool melody = false;  // a MIDI or IMF melody: one choice, no quality
    uint64_t contentHash = 0;
    uint32_t sourceRate = 0;
    double seconds = 0;
    bool ok = false;
    std::string failure;  // why the prompt cannot be planned
    std::vector<Outcome> outcomes;
    size_t coded = 0;  // outcomes coded in this survey (the rest came from the cache)
};

struct Settings {
    // Format ids to try; empty: every format that makes a chip binary.
    std::vector<uint32_t> formats;
    // Rates to try (those above a source's rate are left out for it); empty:
    // the source's rate and the usual chip rates below it.
    std::vector<uint32_t> rates;
    // ESB and SBD bit rates (bit/s); empty: DefaultBitRates().
    std::vector<uint32_t> bitRates;
    Profile profile;
    // The cache folder; empty: DefaultCacheFolder(). noCache: neither read
    // nor written.
    std::string cacheFolder;
    bool noCache = false;
    // Part of every cache key, so that another coder version recodes.
    std::string coderVersion;
    unsigned jobs = 0;  // 0: the number of cores
    I_ProgressCallback* progress = nullptr;
};

// The usual chip rates: 16000, 12000, 11025, 8000, 6000.
const std::vector<uint32_t>& DefaultRates();
// 4000, 6000, 8000, 12000, 16000 bit/s.
const std::vector<uint32_t>& DefaultBitRates();
// The formats whose files the resource converter makes chip binaries of.
std::vector<uint32_t> BinaryFormats();
// $CADENZOR_CACHE, else $XDG_CACHE_HOME/cadenzor, else ~/.cache/cadenzor.
std::string DefaultCacheFolder();

// The choices for a source at sourceRate under settings.
std::vector<Choice> ChoicesFor(const Settings& settings, uint32_t sourceRate);

// Files and folders (searched through, in name order) to the inputs: WAV,
// MP3, WMA, MIDI and IMF files. False with *failure naming the path when one
// cannot be read or a folder holds none.
bool CollectInputs(const std::vector<std::string>& paths, std::vector<std::string>& inputs, std::string* failure);

struct Survey {
    std::vector<Prompt> prompts;
    size_t coded = 0;   // codings made
    size_t cached = 0;  // codings read from the cache
};

// Codes every input in every choice (from the cache where it holds them).
// Prompts that fail keep their reason; the rest are surveyed.
Survey RunSurvey(const std::vector<std::string>& inputs, const Settings& settings);

// --- the optimiser, on size/quality tables --------------------------------

// A choice as the optimiser sees it: resource bytes and quality; a melody's
// only option has no quality (NaN) and never limits the worst.
struct Option {
    uint64_t bytes = 0;
    double quality = 0;
};

enum class Objective { kWorst, kMean };

struct Plan {
    bool fits = false;
    std::vector<size_t> pick;  // per prompt, the index of its option
    uint64_t imageBytes = 0;   // the pack image of the picks
    double worst = 0;          // the lowest quality among the prompts with one
    double mean = 0;
    // The mean objective over many prompts is solved on the convex hulls
    // (the Lagrangian relaxation): then exact is false and meanBound is an
    // upper bound on the best mean; otherwise the plan is optimal.
    bool exact = true;
    double meanBound = 0;
    // The smallest image any choice gives (every prompt at its cheapest).
    uint64_t smallestImage = 0;
};

// Worst: the highest threshold whose cheapest choices (per prompt the
// cheapest at or above it) fit, then the rest of the budget spent on the mean
// among choices at or above it. Mean: the best average. Ties go to the
// smaller image. Not fitting: fits false, smallestImage set.
Plan Optimise(const std::vector<std::vector<Option>>& tables, uint64_t budget, Objective objective);

// The options of surveyed prompts (the ok outcomes, in order) and back.
std::vector<std::vector<Option>> TablesOf(const Survey& survey);
// The outcome a plan's pick names for prompt p.
const Outcome& Picked(const Survey& survey, const Plan& plan, size_t p);

// The best single choice for every prompt (today's one-choice answer): the
// choice, by Key(), with the highest worst quality whose image fits. False
// when none fits.
struct SingleChoice {
    std::string key;
    std::string label;
    uint64_t imageBytes = 0;
    double worst = 0;
    double mean = 0;
};
bool BestSingleChoice(const Survey& survey, uint64_t budget, SingleChoice* best);

// --- applying a plan -------------------------------------------------------

struct ApplyTarget {
    std::string outFolder;  // chip files, binaries and their headers; empty: none
    std::string packImage;  // the image and image + ".h"; empty: none
    bool overwrite = false;
    Profile profile;
};

// Codes the picks again and writes what target asks; every resource must
// come out at the bytes the survey measured. False with *failure (nothing
// left half-written).
bool ApplyPlan(const Survey& survey, const Plan& plan, const ApplyTarget& target, std::vector<std::string>* written,
               std::string* failure);

}  // namespace cz::api::planner
