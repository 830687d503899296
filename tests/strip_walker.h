// A reader of KOB sprites as a drawing engine walks them, checking every rule
// of the layout on the way. Shared by the tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Walks one column strip as a drawing engine does and checks every rule of
// the layout. `painted` gets one entry per row: the colour drawn there, or -1
// for a row left transparent. Returns an empty string when the strip is
// sound, else what is wrong with it; `length` is the strip's size in bytes.
std::string walk_strip(const uint8_t* strip, size_t available, uint32_t height, std::vector<int>& painted,
                       size_t& length);

// Checks a whole sprite file against the decoded image: the header, every
// strip, and that the strips paint exactly the opaque pixels of the first
// min(height, 255) rows. Empty when sound, else what is wrong.
std::string check_sprite(const std::vector<uint8_t>& sprite, const uint8_t* pixels, uint32_t width, uint32_t height,
                         uint32_t stride, uint8_t transparent);
