// A progress bar on standard error, shown only when it is a terminal.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "foundation/I_ProgressCallback.h"

namespace cz::cli {

class ProgressBar final : public I_ProgressCallback {
public:
    ProgressBar(std::string label, bool quiet);
    ~ProgressBar();
    void OnBegin() override;
    void OnProgress(int32_t percent) override;
    void OnEnd() override;

private:
    void Draw(int32_t percent);

    std::string label_;
    bool enabled_;
    std::mutex mutex_;
    int32_t last_ = -1;
    bool open_ = false;
};

}  // namespace cz::cli
