#include "foundation/SoundRate.h"

#include <string>

#include "platform/Platform.h"

namespace cz {

bool AcceptSoundRate(uint32_t rate, const char* what) {
    if (rate >= kMinSoundRate) return true;
    platform::ShowMessage("Sample Rate", std::string(what && *what ? what : "The sound") + " has a sample rate of " +
                                             std::to_string(rate) + " Hz; rates below " +
                                             std::to_string(kMinSoundRate) + " Hz are refused");
    return false;
}

}  // namespace cz
