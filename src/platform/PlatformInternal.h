// Pieces shared by the POSIX and Win32 implementations of the platform layer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace cz::platform::detail {

// The sink installed with SetMessageSink, or none.
MessageSink CurrentMessageSink();
// The default report: one line "title: text" on standard error.
void WriteMessageLine(const std::string& title, const std::string& text);

// What each system does differently; the rest of libraries and messages is
// in PlatformCommon.cpp.
// Loads a library file; on failure returns null and sets *code.
void* OpenLibraryFile(const std::string& path, uint32_t* code);
void CloseLibraryFile(void* handle);
// True when name is a file name and not a path.
bool IsBareFileName(const std::string& name);
// Shows the message in a system box when this system and its setting want
// one; false when the message still has to be reported.
bool ShowSystemMessageBox(const std::string& title, const std::string& text);

}  // namespace cz::platform::detail
