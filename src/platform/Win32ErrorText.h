// Texts of the Win32 error codes the platform layers report, for systems
// that have no message table of their own.
#pragma once

#include <cstdint>
#include <string>

namespace cz::platform {
std::string Win32ErrorText(uint32_t code);
}
