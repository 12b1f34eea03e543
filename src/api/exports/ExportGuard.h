// The frame every export body runs in: no exception crosses the C boundary;
// one thrown inside a chain gives the export's failure value.
#pragma once

#include <cstdint>

namespace cz::api {

template <typename Body>
int32_t ExportGuard(int32_t failure, Body&& body) noexcept {
    try {
        return static_cast<int32_t>(body());
    } catch (...) {
        return failure;
    }
}

}  // namespace cz::api
