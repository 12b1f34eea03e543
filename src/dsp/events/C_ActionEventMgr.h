// Owns a sound's action events (sorted by position) and silence regions
// (sorted by start), converts between milliseconds and samples with the
// sound's rate, and answers selections.
#pragma once

#include <cstdint>

#include "dsp/events/C_ActionEvent.h"
#include "foundation/C_CUList.h"

namespace cz {

using C_ActionEventList = C_CUList<C_ActionEvent, I_ActionEvent, true>;
using C_ActionEventSelection = C_CUList<C_ActionEvent, I_ActionEvent, false>;
using C_ActionSilenceRegionList = C_CUList<C_ActionSilenceRegion, I_ActionSilenceRegion, true>;

class I_ActionEventMgr {
public:
    virtual I_ActionEvent* AddEventAtTime(uint32_t type, uint32_t timeMs, const char* name, uint32_t param) = 0;
    virtual int32_t RemoveEvent(uint32_t id) = 0;
    virtual void RemoveAllEvents() = 0;
    virtual I_ActionEvent* FindEvent(uint32_t id) = 0;
    virtual I_CUList<I_ActionEvent>* SelectEventsAtTime(uint32_t timeMs) = 0;
    virtual I_CUList<I_ActionEvent>* SelectEventsOfType(uint32_t type) = 0;
    virtual I_CUList<I_ActionEvent>* GetEventList() = 0;
    virtual int32_t AddEvents(I_CUList<I_ActionEvent>* list) = 0;
    virtual I_ActionEvent* AddEventAtSample(uint32_t type, uint32_t sample, const char* name, uint32_t param) = 0;
    virtual I_CUList<I_ActionEvent>* SelectEventsAtSample(uint32_t sample) = 0;
    virtual void SetSampleRate(uint32_t rate) = 0;
    virtual uint32_t GetSampleRate() const = 0;
    virtual I_ActionSilenceRegion* AddSilenceRegion(uint32_t start, uint32_t end) = 0;
    virtual int32_t RemoveSilenceRegion(uint32_t id) = 0;
    virtual void RemoveAllSilenceRegions() = 0;
    virtual I_ActionSilenceRegion* FindSilenceRegion(uint32_t id) = 0;
    // A new list (release it with Release) of the regions starting there.
    virtual I_CUList<I_ActionSilenceRegion>* SelectSilenceRegionsAt(uint32_t start) = 0;
    virtual I_CUList<I_ActionSilenceRegion>* GetSilenceRegionList() = 0;
    virtual int32_t AddSilenceRegions(I_CUList<I_ActionSilenceRegion>* list) = 0;
    virtual ~I_ActionEventMgr() = default;
};

class C_ActionEventMgr : public I_ActionEventMgr {
public:
    C_ActionEventMgr() = default;
    // Copies the events; the copy has no selection, no regions and rate 0.
    C_ActionEventMgr(const C_ActionEventMgr& other);
    C_ActionEventMgr& operator=(const C_ActionEventMgr&) = delete;
    ~C_ActionEventMgr() override;

    I_ActionEvent* AddEventAtTime(uint32_t type, uint32_t timeMs, const char* name, uint32_t param) override;
    int32_t RemoveEvent(uint32_t id) override;
    void RemoveAllEvents() override;
    I_ActionEvent* FindEvent(uint32_t id) override;
    I_CUList<I_ActionEvent>* SelectEventsAtTime(uint32_t timeMs) override;
    I_CUList<I_ActionEvent>* SelectEventsOfType(uint32_t type) override;
    I_CUList<I_ActionEvent>* GetEventList() override { return &events_; }
    int32_t AddEvents(I_CUList<I_ActionEvent>* list) override;
    I_ActionEvent* AddEventAtSample(uint32_t type, uint32_t sample, const char* name, uint32_t param) override;
    I_CUList<I_ActionEvent>* SelectEventsAtSample(uint32_t sample) override;
    void SetSampleRate(uint32_t rate) override;
    uint32_t GetSampleRate() const override { return sampleRate_; }
    I_ActionSilenceRegion* AddSilenceRegion(uint32_t start, uint32_t end) override;
    int32_t RemoveSilenceRegion(uint32_t id) override;
    void RemoveAllSilenceRegions() override;
    I_ActionSilenceRegion* FindSilenceRegion(uint32_t id) override;
    I_CUList<I_ActionSilenceRegion>* SelectSilenceRegionsAt(uint32_t start) override;
    I_CUList<I_ActionSilenceRegion>* GetSilenceRegionList() override { return &regions_; }
    int32_t AddSilenceRegions(I_CUList<I_ActionSilenceRegion>* list) override;

    const C_ActionEventList& Events() const { return events_; }
    const C_ActionSilenceRegionList& Regions() const { return regions_; }

private:
    template <typename Key>
    I_ActionEvent* InsertEvent(std::unique_ptr<C_ActionEvent> event, Key key);
    template <typename Match>
    I_CUList<I_ActionEvent>* Select(Match match);

    C_ActionEventList events_;
    C_ActionEventSelection selection_;
    C_ActionSilenceRegionList regions_;
    uint32_t sampleRate_ = 0;
};

}  // namespace cz
