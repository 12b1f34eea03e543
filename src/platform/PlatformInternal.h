// Pieces shared by the POSIX and Win32 implementations of the platform layer.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace cz::platform::detail {

// The sink installed with SetMessageSink, or none.
MessageSink CurrentMessageSink();
// The default report: one line "title: text" on standard error.
void WriteMessageLine(const std::string& title, const std::string& text);

}  // namespace cz::platform::detail
