// The card's hardware state, shared by its COM components: the output
// registers, the profile and the OSD layer. Internal to the simulated world;
// tests reach it through control_card.h.
#pragma once

#include "../control_card.h"

#include <mutex>
#include <string>
#include <vector>

namespace sim {
namespace card {

enum Register { kOutputFlags, kAspect, kHdMode, kVgaMode, kAudioOutput, kRegisterCount };

// Register access through the decoder's interfaces, counted.
int readRegister(Register r);
void writeRegister(Register r, int value);

// The profile's value for section/key, or false when there is none.
bool profileValue(const std::string& section, const std::string& key, std::string* value);

// What the OSD layer shows, taken at one moment: its pixels (0xAARRGGBB,
// width x height) and where its rectangle starts on the screen.
struct OsdView {
    std::vector<uint32_t> pixels;
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    bool displayOn = false;
};
OsdView osdView();

// Writes 0xAARRGGBB pixels as a PNG file; false when it cannot.
bool writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height);

// Parts of simcard::reset() kept by the other card units.
void resetOsdLayer();
void resetStreamRecords();

} // namespace card
} // namespace sim
