// KOB sprites: the compiler that writes one, a column strip per image column
// compiled from the pixel buffer, and the reader that paints one back.
//
// The KOB file (integers little-endian), with nothing between its parts:
//
//   offset  size  field
//        0     8  magic "KOB1VGAX"
//        8     2  rows in every column (2 to 255)
//       10     2  column strips, equal to the image width (2 to 511)
//       12     4  zero
//       16     -  the column strips, column 0 first
//
// A column strip is a list of records ended by the byte 255. Each record
// starts with a control byte and a skip byte, the number of transparent
// rows (0 to 254) to pass before the record's pixels:
//
//   control     record    pixels n       bytes after the skip byte
//   0..126      literal   control        n palette indices, top to bottom
//   131..254    run       control - 128  1 palette index, repeated n times
//   255         end of strip: no skip byte follows
//
// The control values 127 to 130 never occur. Skips and pixels of a strip add
// up to the row count, and no record has both a zero skip and no pixels.
#pragma once

#include <cstdint>

constexpr uint32_t kob_magic_size = 8;
constexpr char kob_magic[kob_magic_size + 1] = "KOB1VGAX";
constexpr uint32_t kob_height_offset = 8;
constexpr uint32_t kob_width_offset = 10;
constexpr uint32_t kob_reserved_offset = 12;
constexpr uint32_t kob_header_size = 16;
constexpr uint32_t kob_min_dimension = 2;  // rows and columns, at least
constexpr uint32_t kob_max_height = 255;
constexpr uint32_t kob_max_width = 511;

constexpr uint32_t kob_max_skip = 254;     // transparent rows one record skips
constexpr uint32_t kob_max_literal = 126;  // pixels in one literal record
constexpr uint32_t kob_max_run = 126;      // pixels in one run record
constexpr uint32_t kob_min_run = 3;        // fewer equal pixels go in a literal
constexpr uint8_t kob_run_base = 128;      // a run's control byte is this + n
constexpr uint8_t kob_end_of_strip = 255;  // terminates every column strip
// Equal pixels a literal may hold in a row; one more is better as a run.
constexpr uint32_t kob_literal_max_repeat = 5;

// The strip buffer's size; the longest strip of 255 rows takes 385 bytes.
constexpr uint32_t kob_strip_capacity = 784;

// The longest strip a reader can meet within the rules: a one-pixel literal
// (3 bytes) for every row, then the terminator; and so the longest file.
constexpr uint32_t kob_max_strip_size = 3 * kob_max_height + 1;
constexpr uint32_t kob_max_file_size = kob_header_size + kob_max_width * kob_max_strip_size;

// The strip of the column last encoded, reused for every column.
extern uint8_t out_strip[kob_strip_capacity];

// Creates the sprite file, writes its header and every column strip, closes it.
bool write_sprite(const char* path);

// Writes the 16-byte header from out_strip_height and out_strips; false when
// the write fails, with errno telling why.
bool write_sprite_header(int fd);

// Compiles the first out_strip_height pixels of a column into out_strip and
// returns the strip's length, terminator included.
unsigned encode_strip(uint32_t column);

// The sprite read back: src_kob_width x src_kob_height palette indices, row
// after row, rows no record paints left at transparent_color.
extern uint8_t* src_kob;
extern uint32_t src_kob_width;
extern uint32_t src_kob_height;

// Reads a sprite file, checks every rule of the layout and paints it into
// src_kob; the first violation is reported with its byte offset.
bool read_sprite(const char* path);

// Sprite sheets (-grid WxH): the image is cut into cells of grid_width x
// grid_height pixels, taken left to right, then top to bottom, and every cell
// is compiled into a sprite of its own, numbered from 0. The output name holds
// the number as one printf-style %d, with an optional 0 flag and a width of
// one or two digits; %% stands for a percent sign.
//
// A single image, and each cell, is 2 to 511 pixels wide and 2 to 256 high
// (a 256th row is not compiled); a sheet is at most 8192 x 8192.
constexpr uint32_t sprite_min_size = kob_min_dimension;
constexpr uint32_t sprite_max_width = kob_max_width;
constexpr uint32_t sprite_max_height = kob_max_height + 1;
constexpr uint32_t sheet_max_width = 8192;
constexpr uint32_t sheet_max_height = 8192;
constexpr uint32_t cell_name_max_width = 99;  // the widest %d an output name may ask for

// The cell size; both 0 when the image is a single sprite.
extern uint32_t grid_width;
extern uint32_t grid_height;

// Whether an image of this size is one sprite's.
bool sprite_size_fits(uint32_t width, uint32_t height);

// Takes -grid's value, "<width>x<height>", and checks the cell against the
// single-image limits.
bool set_grid(const char* text);

// Checks that a sheet's output name holds exactly one cell number.
bool check_cell_name(const char* pattern);

// Checks an image's size: against the single-image limits without -grid, as a
// sheet of whole cells with it. `kind` names the file in the message.
bool check_image_size(const char* kind, uint32_t width, uint32_t height);

// Compiles every cell of the pixel buffer into the file its number names.
bool write_sprite_sheet(const char* pattern);
