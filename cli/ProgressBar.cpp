#include "ProgressBar.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define CZ_ISATTY _isatty
#define CZ_FILENO _fileno
#else
#include <unistd.h>
#define CZ_ISATTY isatty
#define CZ_FILENO fileno
#endif

namespace cz::cli {

ProgressBar::ProgressBar(std::string label, bool quiet)
    : label_(std::move(label)), enabled_(!quiet && CZ_ISATTY(CZ_FILENO(stderr))) {}

ProgressBar::~ProgressBar() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_) std::fputc('\n', stderr);
}

void ProgressBar::OnBegin() { OnProgress(0); }

void ProgressBar::OnProgress(int32_t percent) {
    if (!enabled_) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent == last_) return;
    last_ = percent;
    Draw(percent);
}

void ProgressBar::OnEnd() {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (last_ != 100) Draw(100);
    last_ = 100;
    if (open_) std::fputc('\n', stderr);
    open_ = false;
}

void ProgressBar::Draw(int32_t percent) {
    constexpr int kWidth = 30;
    int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    open_ = true;
}

}  // namespace cz::cli
