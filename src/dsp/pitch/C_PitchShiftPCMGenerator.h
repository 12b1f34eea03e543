// Regenerates a recording period by period for one length factor: the
// stretches between periods are copied once, and each period is copied,
// repeated (factor above 1: at most three emissions) or dropped (factor 1 or
// below: at most three in a row) so that the output keeps pace with the
// source position times the factor.
//
// The source is a block of frames (all channels of one sample index); the
// output is a block of the same frames. A generator made without a source
// only counts: it follows the same decisions and output count without
// copying anything (what a file format needs to record the emit counts).
#pragma once

#include <cstdint>
#include <vector>

namespace cz {

class C_PitchShiftPCMGenerator {
public:
    // Largest number of emissions of one period, and of periods dropped in a
    // row.
    static constexpr uint32_t kMaxEmissions = 3;
    static constexpr uint32_t kMaxDropsInRow = 3;

    // frames: count frames of frameBytes bytes each (none: count only).
    // factor must lie above 0. The output has room for every emission the
    // factor allows: the source length for factors up to 1, three times it
    // above; Ok() turns false if that room cannot be had.
    C_PitchShiftPCMGenerator(const uint8_t* frames, uint32_t frameBytes, uint32_t count, double factor);

    // Copies source frames from the source position to last (inclusive) to
    // the output; does nothing when last is 0 or lies before the position.
    void CopyThrough(uint32_t last);
    // Handles the period from the source position to last and returns how
    // many times it was emitted (0 for a dropped period, and for a factor
    // above 1 when its stretched end lies less than one period ahead of the
    // output, although it is then copied once).
    uint8_t EmitPeriod(uint32_t last);
    // Appends source frames first ... last (a period already passed) once
    // more, beyond the emission limits: what a caller uses to bring the
    // output's end to a length. False (nothing appended) when they are not
    // frames of the source.
    bool AppendAgain(uint32_t first, uint32_t last);
    // Copies through to the last source frame and returns the output.
    const std::vector<uint8_t>& GetOutput();

    // Output frames so far.
    uint32_t OutputCount() const { return outputCount_; }
    uint32_t SourcePosition() const { return position_; }
    double Factor() const { return factor_; }
    // False once a copy did not fit the output (the copy is then not made).
    bool Ok() const { return ok_; }
    // Where each source frame's first copy went: for frames copied at least
    // once, its output index; for dropped frames, the output index of what
    // follows them. Filled for the frames passed so far.
    uint32_t MapPosition(uint32_t sourceIndex) const;

private:
    // Appends frames [first, last] of the source; false (nothing copied)
    // when they do not fit the room left.
    bool Append(uint32_t first, uint32_t last);
    // Notes where the frames from first on went: copied to the current
    // output count, or dropped.
    void Mark(uint32_t first, bool copied);

    const uint8_t* frames_;
    uint32_t frameBytes_;
    uint32_t count_;
    double factor_;
    std::vector<uint8_t> output_;
    uint64_t capacity_ = 0;  // frames
    uint32_t outputCount_ = 0;
    uint32_t position_ = 0;
    uint8_t drops_ = 0;
    bool ok_ = true;
    // Every run of frames passed: its first source frame, the output index
    // of its first copy (or of what follows it, when dropped).
    struct S_Run {
        uint32_t source;
        uint32_t output;
        bool copied;
    };
    std::vector<S_Run> runs_;
};

}  // namespace cz
