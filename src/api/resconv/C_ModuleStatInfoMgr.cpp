#include "api/resconv/C_ModuleStatInfoMgr.h"

#include <algorithm>
#include <new>

#include "foundation/C_CUString.h"

namespace cz {

C_ModuleStatInfoMgr::C_ModuleStatInfoMgr() = default;
C_ModuleStatInfoMgr::~C_ModuleStatInfoMgr() = default;

size_t C_ModuleStatInfoMgr::LowerBound(const std::string& name) const {
    auto it = std::lower_bound(resources_.begin(), resources_.end(), name,
                               [](const std::unique_ptr<C_ResourceStatInfo>& record, const std::string& key) {
                                   return CompareNoCase(record->Name(), key) < 0;
                               });
    return static_cast<size_t>(it - resources_.begin());
}

C_ResourceStatInfo* C_ModuleStatInfoMgr::FindResourceInfo(const std::string& name) const {
    size_t at = LowerBound(name);
    if (at < resources_.size() && CompareNoCase(resources_[at]->Name(), name) == 0) return resources_[at].get();
    return nullptr;
}

C_ResourceStatInfo* C_ModuleStatInfoMgr::FindOrAddResourceInfo(const std::string& name) {
    size_t at = LowerBound(name);
    if (at < resources_.size() && CompareNoCase(resources_[at]->Name(), name) == 0) return resources_[at].get();
    try {
        auto record = std::make_unique<C_ResourceStatInfo>(name);
        C_ResourceStatInfo* result = record.get();
        resources_.insert(resources_.begin() + static_cast<std::ptrdiff_t>(at), std::move(record));
        return result;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

C_ResourceStatInfo* C_ModuleStatInfoMgr::GetResourceInfoAt(size_t index) const {
    return index < resources_.size() ? resources_[index].get() : nullptr;
}

}  // namespace cz
