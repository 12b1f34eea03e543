// The project-information store: the resources of a project, each with the
// figures the resource converter library reported. Resource records are kept
// in name order; names compare without regard to case.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "api/resconv/C_ResourceStatInfo.h"

namespace cz {

class C_ModuleStatInfoMgr {
public:
    C_ModuleStatInfoMgr();
    virtual ~C_ModuleStatInfoMgr();
    C_ModuleStatInfoMgr(const C_ModuleStatInfoMgr&) = delete;
    C_ModuleStatInfoMgr& operator=(const C_ModuleStatInfoMgr&) = delete;

    // The record named name (any case), or none.
    C_ResourceStatInfo* FindResourceInfo(const std::string& name) const;
    // The record named name (any case); a new one inserted in name order when
    // there is none. None only when the record cannot be created.
    C_ResourceStatInfo* FindOrAddResourceInfo(const std::string& name);

    size_t GetResourceInfoCount() const { return resources_.size(); }
    // The record at a position in name order; none past the end.
    C_ResourceStatInfo* GetResourceInfoAt(size_t index) const;

private:
    // The first position whose name is not below name.
    size_t LowerBound(const std::string& name) const;

    std::vector<std::unique_ptr<C_ResourceStatInfo>> resources_;
};

}  // namespace cz
