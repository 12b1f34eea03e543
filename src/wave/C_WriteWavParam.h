// Parameters that steer the format writers: output sample format, value A,
// the silence settings (range start = minimum silence length in ms, range
// end = silence level) and the codec parameter.
#pragma once

#include <cstdint>

namespace cz {

class I_WriteWavParam {
public:
    virtual void Reset() = 0;
    virtual void SetOutputFormat(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag) = 0;
    virtual uint32_t HasOutputFormat() const = 0;
    virtual void GetOutputFormat(uint16_t* validBits, uint16_t* containerBits, uint32_t* signedFlag) const = 0;
    virtual void SetValueA(uint32_t value) = 0;
    virtual uint32_t GetValueA() const = 0;
    virtual void SetRange(uint32_t start, uint32_t end) = 0;
    virtual uint32_t HasRange() const = 0;
    virtual void GetRange(uint32_t* start, uint32_t* end) const = 0;
    virtual void SetCodecParam(uint32_t value) = 0;
    virtual uint32_t GetCodecParam() const = 0;
    virtual ~I_WriteWavParam() = default;
};

class C_WriteWavParam : public I_WriteWavParam {
public:
    void Reset() override { *this = C_WriteWavParam(); }
    void SetOutputFormat(uint16_t validBits, uint16_t containerBits, uint32_t signedFlag) override {
        validBits_ = validBits;
        containerBits_ = containerBits;
        signed_ = signedFlag;
        hasFormat_ = 1;
    }
    uint32_t HasOutputFormat() const override { return hasFormat_; }
    void GetOutputFormat(uint16_t* validBits, uint16_t* containerBits, uint32_t* signedFlag) const override {
        if (validBits) *validBits = validBits_;
        if (containerBits) *containerBits = containerBits_;
        if (signedFlag) *signedFlag = signed_;
    }
    void SetValueA(uint32_t value) override { valueA_ = value; }
    uint32_t GetValueA() const override { return valueA_; }
    void SetRange(uint32_t start, uint32_t end) override {
        rangeStart_ = start;
        rangeEnd_ = end;
        hasRange_ = 1;
    }
    uint32_t HasRange() const override { return hasRange_; }
    void GetRange(uint32_t* start, uint32_t* end) const override {
        if (start) *start = rangeStart_;
        if (end) *end = rangeEnd_;
    }
    void SetCodecParam(uint32_t value) override { codecParam_ = value; }
    uint32_t GetCodecParam() const override { return codecParam_; }
    C_WriteWavParam& operator=(const C_WriteWavParam&) = default;
    // How hard the chip coders that search (AdpcmEffort) look for their
    // codes: 0 (the default) codes as the exported functions always have.
    void SetSearchEffort(uint8_t effort) { searchEffort_ = effort; }
    uint8_t GetSearchEffort() const { return searchEffort_; }

private:
    uint16_t validBits_ = 0;
    uint16_t containerBits_ = 0;
    uint32_t signed_ = 0;
    uint32_t valueA_ = 0;
    uint32_t rangeStart_ = 0;
    uint32_t rangeEnd_ = 0;
    uint32_t codecParam_ = 0;
    uint32_t hasFormat_ = 0;
    uint32_t hasRange_ = 0;
    uint8_t searchEffort_ = 0;
};

}  // namespace cz
