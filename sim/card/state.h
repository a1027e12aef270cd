// The card's hardware state, shared by its COM components: the output
// registers, the profile and the OSD layer. Internal to the simulated world;
// tests reach it through control_card.h.
#pragma once

#include "../control_card.h"

#include <mutex>
#include <string>

namespace sim {
namespace card {

enum Register { kOutputFlags, kAspect, kHdMode, kVgaMode, kAudioOutput, kRegisterCount };

// Register access through the decoder's interfaces, counted.
int readRegister(Register r);
void writeRegister(Register r, int value);

// The profile's value for section/key, or false when there is none.
bool profileValue(const std::string& section, const std::string& key, std::string* value);

// Parts of simcard::reset() kept by the other card units.
void resetOsdLayer();
void resetStreamRecords();

} // namespace card
} // namespace sim
