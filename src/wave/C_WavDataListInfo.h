// Labels and labelled texts of a sound ("LIST" chunk of form "adtl").
#pragma once

#include <cstdint>
#include <string>

#include "foundation/C_CUList.h"
#include "wave/C_RiffFile.h"

namespace cz {

class I_WavDataListInfo {
public:
    virtual uint32_t GetChunkSize() const = 0;
    virtual int32_t GetLabelCount() const = 0;
    virtual void ClearLabels() = 0;
    virtual const char* GetLabelAt(int32_t index, uint32_t* cueId) const = 0;
    virtual void SetLabel(uint32_t cueId, const char* text) = 0;
    virtual int32_t LoadFromChunk(C_RiffChunk& chunk) = 0;
    virtual int32_t WriteToChunk(C_RiffChunk& chunk) const = 0;
    virtual int32_t GetTextCount() const = 0;
    virtual void ClearTexts() = 0;
    virtual uint32_t GetTextLength(uint32_t cueId) const = 0;
    virtual void AddText(uint32_t cueId, uint32_t sampleLength) = 0;
    virtual ~I_WavDataListInfo() = default;
};

class C_WavDataListInfo : public I_WavDataListInfo {
public:
    // The label text field holds 63 characters and its terminating NUL;
    // longer texts are cut there.
    static constexpr size_t kLabelField = 64;
    struct S_Label {
        uint32_t cueId = 0;
        std::string text;
    };
    struct S_Text {
        uint32_t cueId = 0;
        uint32_t sampleLength = 0;
    };

    uint32_t GetChunkSize() const override;
    int32_t GetLabelCount() const override { return labels_.GetCount(); }
    void ClearLabels() override { labels_.Clear(); }
    const char* GetLabelAt(int32_t index, uint32_t* cueId) const override;
    // Appends a label.
    void SetLabel(uint32_t cueId, const char* text) override;
    // A list of another form (INFO, ...) is accepted and leaves everything as it was.
    int32_t LoadFromChunk(C_RiffChunk& chunk) override;
    int32_t WriteToChunk(C_RiffChunk& chunk) const override;
    int32_t GetTextCount() const override { return texts_.GetCount(); }
    void ClearTexts() override { texts_.Clear(); }
    uint32_t GetTextLength(uint32_t cueId) const override;
    void AddText(uint32_t cueId, uint32_t sampleLength) override { texts_.Add(S_Text{cueId, sampleLength}); }

private:
    C_CUElementList<S_Label> labels_;
    C_CUElementList<S_Text> texts_;
};

}  // namespace cz
