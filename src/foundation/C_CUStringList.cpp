#include "foundation/C_CUStringList.h"

namespace cz {

const char* C_CUStringList::GetNext() {
    auto* item = list_.GetNext();
    return item ? item->Text().Text() : nullptr;
}

const char* C_CUStringList::GetPrev() {
    auto* item = list_.GetPrev();
    return item ? item->Text().Text() : nullptr;
}

const char* C_CUStringList::GetAt(int32_t index) const {
    auto* item = list_.GetAt(index);
    return item ? item->Text().Text() : nullptr;
}

void C_CUStringList::Add(const char* text) { list_.Add(std::make_unique<_String>(text ? text : "")); }

void C_CUStringList::AddAll(I_CUStringList& other) {
    other.MoveFirst();
    while (const char* text = other.GetNext()) Add(text);
}

}  // namespace cz
