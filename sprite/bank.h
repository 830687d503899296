// Frame banks (-bank FILE): every cell of a sheet, or the whole image
// without -grid, becomes one frame of one file. Each frame is trimmed to the
// rectangle that holds its opaque pixels; a frame whose pixels and place are
// an earlier frame's, or that earlier frame's mirrored left to right, stores
// no sprite of its own; every frame carries a hotspot. The layout is in
// docs/kob-format.md, "The KOB bank file":
//
//   offset  size  field
//        0     8  magic "KOBBVGAX"
//        8     2  cell width, 2 to 511
//       10     2  cell height, 2 to 256
//       12     2  cells across the sheet
//       14     2  frames, at most 8192
//       16  16*n  the frame table, frame 0 first:
//                   0  1  kind (empty, stored, same as, mirror of)
//                   1  1  zero
//                   2  2  source frame, for kinds "same as" and "mirror of"
//                   4  4  offset of a stored frame's sprite in the file
//                   8  2  left column of the frame's sprite in its cell
//                  10  2  top row
//                  12  2  hotspot x in cell coordinates, signed
//                  14  2  hotspot y, signed
//        -     -  the stored frames' sprites, whole KOB sprite files, back
//                 to back in frame order
#pragma once

#include <cstdint>

constexpr uint32_t bank_magic_size = 8;
constexpr char bank_magic[bank_magic_size + 1] = "KOBBVGAX";
constexpr uint32_t bank_cell_width_offset = 8;
constexpr uint32_t bank_cell_height_offset = 10;
constexpr uint32_t bank_cells_across_offset = 12;
constexpr uint32_t bank_frames_offset = 14;
constexpr uint32_t bank_header_size = 16;

constexpr uint32_t bank_entry_kind_offset = 0;
constexpr uint32_t bank_entry_source_offset = 2;
constexpr uint32_t bank_entry_sprite_offset = 4;
constexpr uint32_t bank_entry_left_offset = 8;
constexpr uint32_t bank_entry_top_offset = 10;
constexpr uint32_t bank_entry_hotspot_x_offset = 12;
constexpr uint32_t bank_entry_hotspot_y_offset = 14;
constexpr uint32_t bank_entry_size = 16;

constexpr uint8_t bank_frame_empty = 0;
constexpr uint8_t bank_frame_stored = 1;
constexpr uint8_t bank_frame_same = 2;
constexpr uint8_t bank_frame_mirrored = 3;

constexpr uint32_t bank_max_frames = 8192;
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
