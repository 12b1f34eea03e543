// An owning list of strings.
#pragma once

#include <string>

#include "foundation/C_CUList.h"
#include "foundation/C_CUString.h"

namespace cz {

class I_CUStringList {
public:
    virtual int32_t GetCount() const = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveLast() = 0;
    virtual const char* GetNext() = 0;
    virtual const char* GetPrev() = 0;
    virtual const char* GetAt(int32_t index) const = 0;
    virtual void Add(const char* text) = 0;
    virtual void AddAll(I_CUStringList& other) = 0;
    virtual ~I_CUStringList() = default;
};

class C_CUStringList : public I_CUStringList {
public:
    class _String : public C_CUItem {
    public:
        explicit _String(const char* text) : text_(text) {}
        const C_CUString& Text() const { return text_; }

    private:
        C_CUString text_;
    };

    int32_t GetCount() const override { return list_.GetCount(); }
    void MoveFirst() override { list_.MoveFirst(); }
    void MoveLast() override { list_.MoveLast(); }
    const char* GetNext() override;
    const char* GetPrev() override;
    const char* GetAt(int32_t index) const override;
    void Add(const char* text) override;
    void AddAll(I_CUStringList& other) override;

private:
    C_CUList<_String, _String, true> list_;
};

}  // namespace cz
