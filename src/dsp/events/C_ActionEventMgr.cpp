#include "dsp/events/C_ActionEventMgr.h"

#include <memory>
#include <new>

namespace cz {

namespace {
// Position of a new key in a list sorted by key: after the last item when the
// key is not below it; otherwise by binary search, before an equal item.
template <typename List, typename Key>
int32_t SortedIndex(const List& list, uint32_t newKey, Key key) {
    int32_t count = list.GetCount();
    if (count == 0 || newKey >= key(list.ItemAt(count - 1))) return count;
    int32_t low = 0, high = count - 1;
    while (low < high) {
        int32_t mid = (low + high) / 2;
        uint32_t k = key(list.ItemAt(mid));
        if (k == newKey) return mid;
        if (newKey < k)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}
}  // namespace

C_ActionEventMgr::C_ActionEventMgr(const C_ActionEventMgr& other) : I_ActionEventMgr() {
    for (const C_ActionEvent* event : other.events_) events_.Add(std::make_unique<C_ActionEvent>(*event));
}

C_ActionEventMgr::~C_ActionEventMgr() {
    selection_.Clear();
    RemoveAllEvents();
    RemoveAllSilenceRegions();
}

template <typename Key>
I_ActionEvent* C_ActionEventMgr::InsertEvent(std::unique_ptr<C_ActionEvent> event, Key key) {
    int32_t index = SortedIndex(events_, key(event.get()), key);
    return events_.InsertAt(index, std::move(event));
}

namespace {
std::unique_ptr<C_ActionEvent> NewEvent(uint32_t type, uint32_t rate, const char* name, uint32_t param) {
    std::unique_ptr<C_ActionEvent> event(new (std::nothrow) C_ActionEvent());
    if (!event) return nullptr;
    event->SetType(type);
    event->SetSampleRate(rate);
    event->SetName(name);
    event->SetParam(param);
    return event;
}
}  // namespace

I_ActionEvent* C_ActionEventMgr::AddEventAtTime(uint32_t type, uint32_t timeMs, const char* name, uint32_t param) {
    auto event = NewEvent(type, sampleRate_, name, param);
    if (!event) return nullptr;
    event->SetTime(timeMs);
    return InsertEvent(std::move(event), [](const C_ActionEvent* e) { return e->GetTime(); });
}

I_ActionEvent* C_ActionEventMgr::AddEventAtSample(uint32_t type, uint32_t sample, const char* name, uint32_t param) {
    auto event = NewEvent(type, sampleRate_, name, param);
    if (!event) return nullptr;
    event->SetSamplePos(sample);
    return InsertEvent(std::move(event), [](const C_ActionEvent* e) { return e->GetSamplePos(); });
}

int32_t C_ActionEventMgr::RemoveEvent(uint32_t id) {
    for (int32_t i = 0; i < events_.GetCount(); ++i) {
        C_ActionEvent* event = events_.ItemAt(i);
        if (event->GetId() == id) {
            // A selection must never point at a deleted event.
            selection_.Remove(event);
            events_.RemoveAt(i);
            return 1;
        }
    }
    return 0;
}

void C_ActionEventMgr::RemoveAllEvents() {
    selection_.Clear();
    events_.Clear();
}

I_ActionEvent* C_ActionEventMgr::FindEvent(uint32_t id) {
    for (C_ActionEvent* event : events_)
        if (event->GetId() == id) return event;
    return nullptr;
}

template <typename Match>
I_CUList<I_ActionEvent>* C_ActionEventMgr::Select(Match match) {
    selection_.Clear();
    for (C_ActionEvent* event : events_)
        if (match(event)) selection_.Add(event);
    return &selection_;
}

I_CUList<I_ActionEvent>* C_ActionEventMgr::SelectEventsAtTime(uint32_t timeMs) {
    return Select([&](const C_ActionEvent* e) { return e->GetTime() == timeMs; });
}

I_CUList<I_ActionEvent>* C_ActionEventMgr::SelectEventsOfType(uint32_t type) {
    return Select([&](const C_ActionEvent* e) { return e->GetType() == type; });
}

I_CUList<I_ActionEvent>* C_ActionEventMgr::SelectEventsAtSample(uint32_t sample) {
    return Select([&](const C_ActionEvent* e) { return e->GetSamplePos() == sample; });
}

int32_t C_ActionEventMgr::AddEvents(I_CUList<I_ActionEvent>* list) {
    if (!list) return 0;
    // Walk by index so a list that is this manager's own stays consistent.
    int32_t count = list->GetCount();
    for (int32_t i = 0; i < count; ++i) {
        I_ActionEvent* e = list->GetAt(i);
        if (!e || !AddEventAtTime(e->GetType(), e->GetTime(), e->GetName(), e->GetParam())) return 0;
    }
    return 1;
}

void C_ActionEventMgr::SetSampleRate(uint32_t rate) {
    if (rate == sampleRate_) return;
    sampleRate_ = rate;
    for (C_ActionEvent* event : events_) event->SetSampleRate(rate);
}

I_ActionSilenceRegion* C_ActionEventMgr::AddSilenceRegion(uint32_t start, uint32_t end) {
    std::unique_ptr<C_ActionSilenceRegion> region(new (std::nothrow) C_ActionSilenceRegion(start, end));
    if (!region) return nullptr;
    int32_t index = SortedIndex(regions_, start, [](const C_ActionSilenceRegion* r) { return r->GetStart(); });
    return regions_.InsertAt(index, std::move(region));
}

int32_t C_ActionEventMgr::RemoveSilenceRegion(uint32_t id) {
    for (int32_t i = 0; i < regions_.GetCount(); ++i)
        if (regions_.ItemAt(i)->GetId() == id) return regions_.RemoveAt(i) ? 1 : 0;
    return 0;
}

void C_ActionEventMgr::RemoveAllSilenceRegions() { regions_.Clear(); }

I_ActionSilenceRegion* C_ActionEventMgr::FindSilenceRegion(uint32_t id) {
    for (C_ActionSilenceRegion* region : regions_)
        if (region->GetId() == id) return region;
    return nullptr;
}

I_CUList<I_ActionSilenceRegion>* C_ActionEventMgr::SelectSilenceRegionsAt(uint32_t start) {
    auto* list = new C_CUList<C_ActionSilenceRegion, I_ActionSilenceRegion, false>();
    for (C_ActionSilenceRegion* region : regions_)
        if (region->GetStart() == start) list->Add(region);
    return list;
}

int32_t C_ActionEventMgr::AddSilenceRegions(I_CUList<I_ActionSilenceRegion>* list) {
    if (!list) return 0;
    int32_t count = list->GetCount();
    for (int32_t i = 0; i < count; ++i) {
        I_ActionSilenceRegion* r = list->GetAt(i);
        if (!r || !AddSilenceRegion(r->GetStart(), r->GetEnd())) return 0;
    }
    return 1;
}

}  // namespace cz
