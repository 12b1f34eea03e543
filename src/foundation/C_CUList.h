// The foundation list templates: an ordered array of items with an iteration
// cursor and per-item identifiers from the list's generator. An owning list
// deletes the items it removes; a non-owning list only forgets them.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/C_CUItem.h"
#include "foundation/C_UniqueIDGenerator.h"

namespace cz {

template <typename I>
class I_CUList {
public:
    virtual int32_t GetCount() const = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveLast() = 0;
    virtual I* GetNext() = 0;
    virtual I* GetPrev() = 0;
    virtual I* GetAt(int32_t index) const = 0;
    virtual I* FindById(uint32_t id) const = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual ~I_CUList() = default;
};

// IList: the interface list type implemented (I_CUList<I> or a derived
// interface); C: the item class, derived from C_CUItem and I.
template <typename IList, typename C, typename I, bool Owning>
class C_CUCustomList : public C_CUItem, public IList {
public:
    C_CUCustomList() = default;
    ~C_CUCustomList() override { ClearItems(); }
    C_CUCustomList(const C_CUCustomList&) = delete;
    C_CUCustomList& operator=(const C_CUCustomList&) = delete;

    int32_t GetCount() const override { return static_cast<int32_t>(items_.size()); }
    void MoveFirst() override { cursor_ = -1; }
    void MoveLast() override { cursor_ = GetCount(); }
    I* GetNext() override {
        if (cursor_ < GetCount()) ++cursor_;
        return cursor_ < GetCount() ? static_cast<I*>(items_[static_cast<size_t>(cursor_)]) : nullptr;
    }
    I* GetPrev() override {
        if (cursor_ >= 0) --cursor_;
        return cursor_ >= 0 ? static_cast<I*>(items_[static_cast<size_t>(cursor_)]) : nullptr;
    }
    I* GetAt(int32_t index) const override { return ItemAt(index); }
    I* FindById(uint32_t id) const override {
        for (C* item : items_)
            if (item->GetItemId() == id) return item;
        return nullptr;
    }
    uint32_t AddRef() override { return ++refCount_; }
    // For lists made on the heap and handed out: at 0 the list deletes itself.
    uint32_t Release() override {
        uint32_t left = refCount_ > 0 ? --refCount_ : 0;
        if (left == 0) delete this;
        return left;
    }

    C* ItemAt(int32_t index) const {
        if (index < 0 || index >= GetCount()) return nullptr;
        return items_[static_cast<size_t>(index)];
    }

    // Appends; an owning list takes the item over. Returns the item.
    C* Add(C* item) { return InsertAt(GetCount(), item); }
    C* InsertAt(int32_t index, C* item) {
        if (!item) return nullptr;
        if (index < 0) index = 0;
        if (index > GetCount()) index = GetCount();
        items_.insert(items_.begin() + index, item);
        item->SetItemId(ids_.GetNewId());
        if (cursor_ >= index) ++cursor_;
        return item;
    }
    C* Add(std::unique_ptr<C> item) { return Add(item.release()); }
    C* InsertAt(int32_t index, std::unique_ptr<C> item) { return InsertAt(index, item.release()); }

    // Removes the item at index; an owning list deletes it.
    bool RemoveAt(int32_t index) {
        C* item = Detach(index);
        if (!item) return false;
        if constexpr (Owning) delete item;
        return true;
    }
    bool Remove(const C* item) { return RemoveAt(IndexOf(item)); }
    // Takes the item out without deleting it.
    C* Detach(int32_t index) {
        if (index < 0 || index >= GetCount()) return nullptr;
        C* item = items_[static_cast<size_t>(index)];
        items_.erase(items_.begin() + index);
        ids_.ReleaseId(item->GetItemId());
        if (cursor_ > index) --cursor_;
        return item;
    }
    int32_t IndexOf(const C* item) const {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i] == item) return static_cast<int32_t>(i);
        return -1;
    }
    // Removes everything and resets the identifier generator.
    void Clear() {
        ClearItems();
        ids_.Reset();
    }
    void ResetIds() { ids_.Reset(); }

    const std::vector<C*>& Items() const { return items_; }
    typename std::vector<C*>::const_iterator begin() const { return items_.begin(); }
    typename std::vector<C*>::const_iterator end() const { return items_.end(); }

private:
    void ClearItems() {
        if constexpr (Owning) {
            for (C* item : items_) delete item;
        }
        items_.clear();
        cursor_ = -1;
    }

    uint32_t refCount_ = 1;
    std::vector<C*> items_;
    int32_t cursor_ = -1;
    C_UniqueIDGenerator ids_;
};

template <typename C, typename I, bool Owning>
class C_CUList : public C_CUCustomList<I_CUList<I>, C, I, Owning> {};

// Lists of plain values.
template <typename E>
class I_CUElementList {
public:
    virtual int32_t GetCount() const = 0;
    virtual const E* GetAt(int32_t index) const = 0;
    virtual ~I_CUElementList() = default;
};

template <typename E>
class C_CUElementList : public I_CUElementList<E> {
public:
    int32_t GetCount() const override { return static_cast<int32_t>(items_.size()); }
    const E* GetAt(int32_t index) const override {
        if (index < 0 || index >= GetCount()) return nullptr;
        return &items_[static_cast<size_t>(index)];
    }
    E* GetAt(int32_t index) {
        if (index < 0 || index >= GetCount()) return nullptr;
        return &items_[static_cast<size_t>(index)];
    }
    void Add(E value) { items_.push_back(std::move(value)); }
    void Clear() { items_.clear(); }
    const std::vector<E>& Items() const { return items_; }

private:
    std::vector<E> items_;
};

}  // namespace cz
