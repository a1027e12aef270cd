// The test pattern the card's video area shows when it has no picture to
// show: colour bars, and in a black band below them "NO PICTURE" and the
// reason, in capitals of a small bitmap font scaled to the area.
#pragma once

#include <cstdint>
#include <string>

namespace sim {
namespace card {

// Fills the width x height area whose first pixel is `area`, `stride`
// pixels a row, with the pattern and `reason`.
void drawTestPattern(uint32_t* area, int stride, int width, int height, const std::string& reason);

} // namespace card
} // namespace sim
