// Progress of long operations: OnBegin once, OnProgress with percents from 0
// to 100, then OnProgress(100) and OnEnd. OnProgress may arrive on another
// thread (the resampler's progress thread).
#pragma once

#include <cstdint>

namespace cz {

class I_ProgressCallback {
public:
    virtual void OnBegin() = 0;
    virtual void OnProgress(int32_t percent) = 0;
    virtual void OnEnd() = 0;

protected:
    ~I_ProgressCallback() = default;
};

}  // namespace cz
