// A zlib stream (RFC 1950 around RFC 1951 deflate data) unpacked without the
// zlib library, for builds whose toolchain has none. Written from the RFCs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

// Unpacks the whole stream, which must give exactly expected bytes and end
// with a matching Adler-32 sum. False with a reason otherwise; never writes
// more than expected bytes.
bool InflateZlib(std::span<const uint8_t> in, size_t expected, std::vector<uint8_t>& out, std::string& error);

}  // namespace kelvra
