// KOB sprites: the compiler that writes one, a column strip per image column
// compiled from an image record's pixels, and the reader that paints one back.
//
// The file layout, its constants, and the checker that both kob2pcx and the
// engines use live in modex/kob.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image.h"
#include "modex/kob.h"

// Equal pixels a literal may hold in a row; one more is better as a run.
constexpr uint32_t kob_literal_max_repeat = 5;

// The strip buffer's size; the longest strip of 255 rows takes 385 bytes.
constexpr uint32_t kob_strip_capacity = 784;

// The longest file within the rules: every strip as long as the rules allow.
constexpr uint32_t kob_max_file_size = KOB_HEADER_SIZE + KOB_MAX_WIDTH * KOB_MAX_STRIP_SIZE;

// The rows compiled per column of an image or cell `height` rows tall: a
// sprite holds at most 255, so a 256th row is dropped.
inline uint32_t strip_height_for(uint32_t height) { return height < KOB_MAX_HEIGHT ? height : KOB_MAX_HEIGHT; }

// The strip of the column last encoded, reused for every column.
extern uint8_t out_strip[kob_strip_capacity];

// Creates the sprite file, writes the header and every column strip of
// `image` compiled, closes it.
bool write_sprite(const char* path, const Image& image);

// Fills the 16-byte header of `image`'s sprite.
void put_sprite_header(uint8_t* header, const Image& image);

// Writes the 16-byte header of `image`'s sprite; false when the write fails,
// with errno telling why.
bool write_sprite_header(int fd, const Image& image);

// Compiles the first strip_height_for(image.height) pixels of a column of
// `image` into out_strip and returns the strip's length, terminator included.
unsigned encode_strip(const Image& image, uint32_t column);

// The sprite read back: src_kob_width x src_kob_height palette indices, row
// after row, rows no record paints left at transparent_color.
extern uint8_t* src_kob;
extern uint32_t src_kob_width;
extern uint32_t src_kob_height;

// Reads a sprite file, checks every rule of the layout and paints it into
// src_kob; the first violation is reported with its byte offset.
bool read_sprite(const char* path);

// Paints a checked sprite's opaque pixels with its top left corner at
// `corner`, rows `pitch` bytes apart; mirrored, its last column comes first.
void paint_sprite_at(const kob_sprite& sprite, uint8_t* corner, size_t pitch, bool mirrored);

// Sprite sheets (-grid WxH): the image is cut into cells of grid_width x
// grid_height pixels, taken left to right, then top to bottom, and every cell
// is compiled into a sprite of its own, numbered from 0. The output name holds
// the number as one printf-style %d, with an optional 0 flag and a width of
// one or two digits; %% stands for a percent sign.
//
// A single image, and each cell, is 2 to 511 pixels wide and 2 to 256 high
// (a 256th row is not compiled); a sheet is at most 8192 x 8192.
constexpr uint32_t sprite_min_size = KOB_MIN_DIMENSION;
constexpr uint32_t sprite_max_width = KOB_MAX_WIDTH;
constexpr uint32_t sprite_max_height = KOB_MAX_HEIGHT + 1;
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

// False, after the message, when a cell's file would be the input, the
// palette file or another cell's (see distinct_files); the image's size
// must be known.
bool sheet_outputs_distinct(const char* pattern, const char* input, const char* palette);

// Compiles every cell of src_image into the file its number names.
bool write_sprite_sheet(const char* pattern);
