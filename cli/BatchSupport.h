// Figures of converted files and the memory-budget verdict shared by batch
// and pack.
#pragma once

#include <string>
#include <vector>

#include "Commands.h"

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
    unsigned long rate = 0;  // 0: the rate the sounds have
    unsigned long long estimate = 0;
};

struct BudgetVerdict {
    unsigned long long budget = 0;
    unsigned long long used = 0;
    bool fits = true;
    // When the set does not fit: choices estimated to fit, largest (best
    // sound) first, and the smallest choice tried.
    std::vector<BudgetChoice> fitting;
    BudgetChoice smallest;
};

// Judges used bytes against options.budget; when they do not fit, estimates
// the other formats and rates from a sample of the inputs.
BudgetVerdict JudgeBudget(const Options& options, const std::string& format, unsigned long long used,
                          double seconds, const std::vector<std::string>& inputs);
void PrintBudgetText(const BudgetVerdict& verdict);
void PrintBudgetJson(const BudgetVerdict& verdict);

// "512 KiB", "1.5 MiB", "300 bytes".
std::string SizeText(unsigned long long bytes);

}  // namespace cz::cli
