// Bank selects for a DLS-aware player: the General MIDI banks a Mobile DLS
// bank is laid out in are 121 (melodic) and 120 (drums, channel 10), and a
// player starts on bank 0 unless told.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvra {

// Copies the Standard MIDI File with a bank select (controller 0 = 121, or
// 120 on channel 10, and controller 32 = 0) before every program change that
// does not already follow a bank select of its channel. Running status is
// written out in full. False with a reason on a malformed file.
bool InsertBankSelects(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error);

}  // namespace kelvra
