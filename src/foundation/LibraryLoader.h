// Loading sibling libraries, with the error messages the user is shown when a
// library or one of its entries is missing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace cz {

// Loads a sibling library by its Windows name from the library's own folder.
// On failure with showMessage set, the message sink receives
// "Load '<name>' failed !\r\nError Code <n>: <system text>" under the title
// (or "Load Dll Library"). Returns none on failure.
std::unique_ptr<platform::Library> LoadLibraryWithMessage(const char* name, const char* title, uintptr_t ownerWindow,
                                                          bool showMessage);

// Resolves an entry; none at once for a missing module. On failure with
// showMessage set the sink receives
// "Get '<entry>()' address from '<module file>' failed !\r\nError Code <n>: <system text>"
// under the title (or "Get Procedure Address").
void* GetProcAddressWithMessage(const platform::Library* module, const char* entry, const char* title,
                                uintptr_t ownerWindow, bool showMessage);

// The folder of the library's own file, with a trailing separator when asked.
std::string GetModuleDirectory(bool withSeparator);

template <typename Fn>
Fn EntryAs(void* entry) {
    return reinterpret_cast<Fn>(entry);
}

}  // namespace cz
