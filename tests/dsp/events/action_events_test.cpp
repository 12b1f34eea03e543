#include <gtest/gtest.h>

#include <vector>

#include "dsp/events/C_ActionEventMgr.h"

namespace cz {
namespace {

std::vector<uint32_t> Params(C_ActionEventMgr& mgr) {
    std::vector<uint32_t> out;
    for (const C_ActionEvent* e : mgr.Events()) out.push_back(e->GetParam());
    return out;
}

TEST(ActionEvents, SortedInsertionByTime) {
    C_ActionEventMgr mgr;
    mgr.SetSampleRate(1000);
    mgr.AddEventAtTime(1, 100, nullptr, 1);
    mgr.AddEventAtTime(1, 200, nullptr, 2);
    mgr.AddEventAtTime(1, 300, nullptr, 3);
    mgr.AddEventAtTime(1, 300, nullptr, 4);  // same as the last: after it
    mgr.AddEventAtTime(1, 200, nullptr, 5);  // same as an earlier one: before the one the search meets
    mgr.AddEventAtTime(1, 50, nullptr, 6);
    EXPECT_EQ(Params(mgr), (std::vector<uint32_t>{6, 1, 5, 2, 3, 4}));
}

TEST(ActionEvents, TimeAndSampleConversions) {
    C_ActionEventMgr mgr;
    mgr.SetSampleRate(16000);
    I_ActionEvent* byTime = mgr.AddEventAtTime(2, 250, "x", 9);
    I_ActionEvent* bySample = mgr.AddEventAtSample(3, 8000, nullptr, 7);
    EXPECT_EQ(byTime->GetSamplePos(), 4000u);
    EXPECT_EQ(bySample->GetTime(), 500u);
    EXPECT_STREQ(byTime->GetName(), "x");
    EXPECT_STREQ(bySample->GetName(), "");
    // SetSampleRate with the current rate changes nothing.
    bySample->SetSampleRate(8000);
    mgr.SetSampleRate(16000);
    EXPECT_EQ(bySample->GetSampleRate(), 8000u);
    mgr.SetSampleRate(8000);
    EXPECT_EQ(byTime->GetSamplePos(), 2000u);
    // A rate of 0 gives 0 instead of an undefined conversion.
    mgr.SetSampleRate(0);
    EXPECT_EQ(bySample->GetTime(), 0u);
}

TEST(ActionEvents, SelectionsRenumberAndRemovalKeepsThemSafe) {
    C_ActionEventMgr mgr;
    mgr.SetSampleRate(1000);
    mgr.AddEventAtTime(1, 10, nullptr, 0);
    I_ActionEvent* b = mgr.AddEventAtTime(2, 20, nullptr, 0);
    mgr.AddEventAtTime(2, 30, nullptr, 0);
    uint32_t before = b->GetId();
    EXPECT_EQ(before, 2u);
    I_CUList<I_ActionEvent>* sel = mgr.SelectEventsOfType(2);
    ASSERT_EQ(sel->GetCount(), 2);
    EXPECT_EQ(sel->GetAt(0), b);
    EXPECT_EQ(b->GetId(), 1u);  // identifiers now come from the selection
    EXPECT_EQ(mgr.SelectEventsAtTime(30)->GetCount(), 1);
    EXPECT_EQ(mgr.SelectEventsAtSample(20)->GetCount(), 1);
    EXPECT_EQ(mgr.RemoveEvent(b->GetId()), 1);
    EXPECT_EQ(mgr.RemoveEvent(12345), 0);
    // The selection never keeps a deleted event.
    for (int32_t i = 0; i < mgr.SelectEventsOfType(2)->GetCount(); ++i)
        EXPECT_NE(mgr.SelectEventsOfType(2)->GetAt(i), nullptr);
    mgr.RemoveAllEvents();
    EXPECT_EQ(mgr.GetEventList()->GetCount(), 0);
}

TEST(ActionEvents, RegionsSortedAndCopiedManager) {
    C_ActionEventMgr mgr;
    mgr.AddSilenceRegion(500, 600);
    mgr.AddSilenceRegion(100, 200);
    mgr.AddSilenceRegion(300, 400);
    std::vector<uint32_t> starts;
    for (const C_ActionSilenceRegion* r : mgr.Regions()) starts.push_back(r->GetStart());
    EXPECT_EQ(starts, (std::vector<uint32_t>{100, 300, 500}));
    I_CUList<I_ActionSilenceRegion>* at = mgr.SelectSilenceRegionsAt(300);
    EXPECT_EQ(at->GetCount(), 1);
    at->Release();
    mgr.SetSampleRate(8000);
    mgr.AddEventAtSample(1, 5, nullptr, 2);
    C_ActionEventMgr copy(mgr);
    EXPECT_EQ(copy.GetEventList()->GetCount(), 1);
    EXPECT_EQ(copy.GetSilenceRegionList()->GetCount(), 0);
    EXPECT_EQ(copy.GetSampleRate(), 0u);
    C_ActionEventMgr other;
    EXPECT_EQ(other.AddSilenceRegions(mgr.GetSilenceRegionList()), 1);
    EXPECT_EQ(other.GetSilenceRegionList()->GetCount(), 3);
}

}  // namespace
}  // namespace cz
