// Frame banks (-bank FILE): every cell of a sheet, or the whole image
// without -grid, becomes one frame of one file. Each frame is trimmed to the
// rectangle that holds its opaque pixels; a frame whose pixels and place are
// an earlier frame's, or that earlier frame's mirrored left to right, stores
// no sprite of its own; every frame carries a hotspot. The layout, its
// constants and the checker kob2pcx reads banks through are in
// modex/kobbank.h (and docs/kob-format.md).
#pragma once

#include <cstdint>

#include "modex/kobbank.h"

// A hotspot is a signed 16-bit point.
constexpr int32_t bank_min_hotspot = -32768;
constexpr int32_t bank_max_hotspot = 32767;

// -hotspot's point, 0,0 unless given, and -mark's index, when given.
extern int32_t bank_hotspot_x;
extern int32_t bank_hotspot_y;
extern bool bank_mark_given;
extern uint8_t bank_mark;

// The bank compiled in memory, header to last sprite.
extern uint8_t* out_bank;
extern uint32_t out_bank_size;

// Takes -hotspot's value, "<x>,<y>", each decimal, -32768 to 32767.
bool set_hotspot(const char* text);

// Takes -mark's value, a decimal palette index.
bool set_mark(const char* text);

// Compiles every cell of src_image, grid_width x grid_height each, into
// out_bank; a cell holding the mark more than once is refused. The mark's
// pixels become transparent in src_image.
bool compile_bank();

// Writes out_bank to its file.
bool write_bank(const char* path);

// The bank read back, whole, once the bank checker (modex/kobbank.h) has
// accepted it.
//
// True when the file at `path` starts with the bank's magic; false for
// anything else, including a file that cannot be opened or read.
bool input_is_bank(const char* path);

// Loads the bank and checks every rule of the layout; the first violation
// is reported with its byte offset.
bool read_bank(const char* path);

// Paints every frame at its cell into src_kob, a sheet of the bank's
// geometry, the pixels no frame paints left at transparent_color.
bool paint_bank_sheet();

// Paints frame `number`, given as decimal text, alone into src_kob, an
// image of the cell's size; a number that is not one of the bank's frames is
// refused.
bool paint_bank_frame(const char* number);

// Prints one line a frame on standard output:
//   <n> <width>x<height> <left>,<top> <hotspot x>,<hotspot y> <how>
// the size and place of the frame's sprite in its cell (0x0 0,0 for an
// empty frame), and how it is kept: "empty", "stored <bytes>", "same <k>"
// or "mirrored <k>", sharing frame k's sprite.
bool list_bank();
