// The command-line conventions both tools share.
//
// An option's name is the argument with all its leading dashes removed;
// every option but -h/-help takes the next argument as its value, whatever
// it looks like. A path option standing last leaves its path absent; -tc
// standing last leaves the index as it was.
#pragma once

#include <cstddef>
#include <cstdint>

// Palette index of the pixels a sprite does not draw; 0 unless -tc sets it.
extern uint8_t transparent_color;
// Whether -tc set it: an image's own transparent index gives way to -tc.
extern bool transparent_color_given;

// A path option: its name, the setting its value fills, and whether the run
// needs it. A flag takes no value: given, its setting is its own name.
struct PathOption {
  const char* name;
  const char** path;
  bool required;
  bool flag = false;
};

// Fills the settings from the arguments; false when the run must end now with
// status 1: help was asked for, or a required path is absent, and `help` has
// run; or a bad argument has been reported.
bool parse_options(int argc, char** argv, const PathOption* options, size_t option_count, void (*help)());
