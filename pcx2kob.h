// Run settings the driver takes from the command line and the stages read.
#pragma once

#include <cstdint>

// Palette index of the pixels a sprite does not draw; 0 unless -tc sets it.
extern uint8_t transparent_color;
