#include "foundation/LibraryLoader.h"

#include "foundation/C_CUString.h"

namespace cz {

std::unique_ptr<platform::Library> LoadLibraryWithMessage(const char* name, const char* title, uintptr_t,
                                                          bool showMessage) {
    std::string libName = name ? name : "";
    uint32_t error = 0;
    auto lib = platform::Library::LoadSibling(libName, &error);
    if (lib) return std::make_unique<platform::Library>(std::move(*lib));
    if (showMessage) {
        std::string text = FormatString("Load '%s' failed !\r\nError Code %lu: %s", libName.c_str(),
                                        static_cast<unsigned long>(error), platform::ErrorText(error).c_str());
        platform::ShowMessage(title && *title ? title : "Load Dll Library", text);
    }
    return nullptr;
}

void* GetProcAddressWithMessage(const platform::Library* module, const char* entry, const char* title, uintptr_t,
                                bool showMessage) {
    if (!module || !module->IsLoaded()) return nullptr;
    uint32_t error = 0;
    void* address = module->Entry(entry, &error);
    if (!address && showMessage) {
        std::string file = module->FilePath();
        auto pos = file.find_last_of("\\/");
        if (pos != std::string::npos) file = file.substr(pos + 1);
        std::string text =
            FormatString("Get '%s()' address from '%s' failed !\r\nError Code %lu: %s", entry ? entry : "",
                         file.c_str(), static_cast<unsigned long>(error), platform::ErrorText(error).c_str());
        platform::ShowMessage(title && *title ? title : "Get Procedure Address", text);
    }
    return address;
}

std::string GetModuleDirectory(bool withSeparator) { return platform::ModuleDirectory(withSeparator); }

}  // namespace cz
