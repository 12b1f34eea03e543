// RBF resources as a sound file of the factory (RbfFile.h has the layout).
// The class has no id of the registry and writes nothing; opening fills the
// format from the header and a walk of the payload, and reports format id 15;
// loading decodes the payload, with its markers as cue points.
#pragma once

#include <vector>

#include "formats/rbf/RbfFile.h"
#include "wave/C_WavFile.h"

namespace cz {

class C_RBFFile : public C_WavFile {
public:
    static constexpr uint32_t kFormatId = kFormatMdm;

    // Reads the whole resource (capped), refuses another magic with
    // kNotThisFormat, and a resource without payload, with a rate below
    // kRbfMinRate, or whose payload does not walk to its end mark at the
    // end of the file, with the reason as the error's detail.
    int32_t ReadHeaderStream(std::shared_ptr<InputStream> stream, uint32_t loadFlag, uint32_t* outFlags) override;
    int32_t LoadSamples(uint32_t flag) override;

    const RbfSummary& Summary() const { return summary_; }

private:
    std::vector<uint8_t> bytes_;
    RbfSummary summary_;
};

}  // namespace cz
