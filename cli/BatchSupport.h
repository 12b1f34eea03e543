// Figures of converted files and the memory-budget verdict shared by batch
// and pack.
#pragma once

#include <string>
#include <vector>

#include "Commands.h"
#include "Json.h"

namespace cz::cli {

struct SoundFigures {
    double seconds = 0;
    unsigned long long fileBytes = 0;
    long long chipBytes = -1;  // the resource binary's size; -1 when unknown
};

// The duration and sizes of a converted file; the chip bytes from binary when
// given, else from a binary made on the side when needChip.
SoundFigures MeasureOutput(const std::string& output, const std::string& binary, bool needChip);

struct BudgetChoice {
    std::string format;
    unsigned long rate = 0;     // 0: the rate the sounds have
    unsigned long bitrate = 0;  // ESB and SBD: 0 for the coder's own
    unsigned long long bytes = 0;
    bool measured = false;  // bytes of every file converted, not an estimate
};

// "--to esb --rate 8000 --bitrate 6000": the options that make a choice.
std::string ChoiceOption(const BudgetChoice& choice);

struct BudgetVerdict {
    unsigned long long budget = 0;
    unsigned long long used = 0;
    bool fits = true;
    // When the set does not fit: choices that fit, each measured by
    // converting every file, largest (best sound) first; else the smallest
    // choice tried, measured alike.
    std::vector<BudgetChoice> fitting;
    BudgetChoice smallest;
};

// The bytes of resources of these sizes side by side, or in a pack image
// (its table and alignment included).
unsigned long long BudgetTotal(const std::vector<unsigned long long>& sizes, bool packed);

// Judges used bytes against options.budget; when they do not fit, ranks other
// formats, rates (never above the sounds') and bit rates on a sample of the
// inputs and measures the best candidates on every input.
BudgetVerdict JudgeBudget(const Options& options, const std::string& format, unsigned long long used, double seconds,
                          const std::vector<std::string>& inputs, bool packed = false);
void PrintBudgetText(const BudgetVerdict& verdict);
// The verdict as the "budget" member of the object json is writing.
void BudgetJson(Json& json, const BudgetVerdict& verdict);

// "512 KiB", "1.5 MiB", "300 bytes".
std::string SizeText(unsigned long long bytes);

}  // namespace cz::cli
