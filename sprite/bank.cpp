// Frame banks: the cells of a sheet trimmed, merged and compiled into one
// file, in memory first, so that every refusal comes before anything is
// written.
#include "sprite/bank.h"

#include <cstdlib>
#include <cstring>

#include "image.h"
#include "io.h"
#include "sprite/sprite.h"

int32_t bank_hotspot_x;
int32_t bank_hotspot_y;
bool bank_mark_given;
uint8_t bank_mark;
uint8_t* out_bank;
uint32_t out_bank_size;

namespace {

// A rectangle of a cell, in cell coordinates.
struct Box {
  uint32_t left, top, width, height;
};

struct Frame {
  uint8_t kind;
  uint32_t source;        // the stored frame it shares
  Box opaque;             // the rectangle of its opaque pixels
  Box sprite;             // where its sprite stands: opaque, at least 2 x 2
  const uint8_t* pixels;  // its cell's top left pixel in the sheet
  int32_t hotspot_x, hotspot_y;
  uint64_t plain_hash;   // of its opaque pixels' rows and their place
  uint64_t mirror_hash;  // the same with the place mirrored
};

Frame frames[KOB_BANK_MAX_SHEET];
uint32_t frame_count;

// Stored frames by plain hash, open addressing: frame number + 1, 0 free.
// Only its first merge_mask + 1 slots are used, at least twice the frames.
constexpr uint32_t merge_table_size = 2 * KOB_BANK_MAX_SHEET;  // a power of 2
uint32_t merge_table[merge_table_size];
uint32_t merge_mask;

uint32_t bank_capacity;

// The image record of the cell or sprite a stage looks at: the sheet's, its
// pixels and size set for each.
Image view;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number, with a leading '-' when `minimum` is negative,
// into `value` and returns what follows it, or null when there is no digit
// or the number is outside [minimum, maximum].
const char* read_decimal(const char* text, int32_t minimum, int32_t maximum, int32_t* value) {
  const bool negative = *text == '-' && minimum < 0;
  if (negative) ++text;
  if (!is_digit(*text)) return nullptr;
  int64_t n = 0;
  for (; is_digit(*text); ++text) {
    if (n <= maximum + 1) n = n * 10 + (*text - '0');
  }
  if (negative) n = -n;
  if (n < minimum || n > maximum) return nullptr;
  *value = static_cast<int32_t>(n);
  return text;
}

// Rows are scanned eight pixels at a time: a group of eight read as one
// 64-bit number differs from eight transparent pixels in the bytes of its
// opaque ones, and the lowest and highest differing bytes are found by
// counting zero bits from either end.
constexpr uint64_t every_byte = 0x0101010101010101ull;
constexpr bool little_endian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The place, 0 to 7, of the first and of the last differing pixel in a
// group whose `difference` is not 0.
uint32_t first_differing(uint64_t difference) {
  return static_cast<uint32_t>(little_endian ? __builtin_ctzll(difference) : __builtin_clzll(difference)) / 8;
}
uint32_t last_differing(uint64_t difference) {
  return 7 - static_cast<uint32_t>(little_endian ? __builtin_clzll(difference) : __builtin_ctzll(difference)) / 8;
}

uint64_t group_at(const uint8_t* pixels) {
  uint64_t group;
  memcpy(&group, pixels, sizeof group);
  return group;
}

// Whether any of the eight pixels of a group is 0.
bool has_zero_pixel(uint64_t group) { return ((group - every_byte) & ~group & (every_byte << 7)) != 0; }

// Collects the mark's pixels of a cell, whole rows including a 256th, and
// makes them transparent; false, after the message, when there are two or
// more. Only groups of eight that hold the mark are looked at pixel by pixel.
bool take_mark(const Image& cell, uint32_t number, Frame* frame) {
  const uint64_t marks = bank_mark * every_byte;
  uint32_t found = 0, first_x = 0, first_y = 0;
  for (uint32_t y = 0; y < cell.height; ++y) {
    uint8_t* row = cell.pixels + static_cast<size_t>(y) * cell.stride;
    for (uint32_t x = 0; x < cell.width; ++x) {
      if (x % 8 == 0 && x + 8 <= cell.width && !has_zero_pixel(group_at(row + x) ^ marks)) {
        x += 7;
        continue;
      }
      if (row[x] != bank_mark) continue;
      if (found++ == 1) {
        return fail("Cell %u holds mark %u more than once: at %u,%u and at %u,%u\n", number, bank_mark, first_x,
                    first_y, x, y);
      }
      first_x = x;
      first_y = y;
      row[x] = cell.transparent;
    }
  }
  if (found == 1) {
    frame->hotspot_x = static_cast<int32_t>(first_x);
    frame->hotspot_y = static_cast<int32_t>(first_y);
  }
  return true;
}

// The first opaque pixel of a row, or `width` when there is none.
uint32_t first_opaque(const uint8_t* row, uint32_t width, uint8_t transparent) {
  const uint64_t clear = transparent * every_byte;
  uint32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const uint64_t difference = group_at(row + x) ^ clear;
    if (difference != 0) return x + first_differing(difference);
  }
  while (x < width && row[x] == transparent) ++x;
  return x;
}

// One past the last opaque pixel of a row, whose pixel `from` is opaque.
uint32_t opaque_end(const uint8_t* row, uint32_t from, uint32_t width, uint8_t transparent) {
  const uint64_t clear = transparent * every_byte;
  uint32_t end = width;
  for (; end >= from + 8; end -= 8) {
    const uint64_t difference = group_at(row + end - 8) ^ clear;
    if (difference != 0) return end - 8 + last_differing(difference) + 1;
  }
  while (row[end - 1] == transparent) --end;
  return end;
}

// The rectangle of the opaque pixels in the compiled rows of a cell; width
// 0 when there are none.
Box opaque_box(const Image& cell) {
  Box box = {cell.width, 0, 0, 0};
  uint32_t right = 0, bottom = 0;
  const uint32_t rows = strip_height_for(cell.height);
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* row = cell.pixels + static_cast<size_t>(y) * cell.stride;
    const uint32_t left = first_opaque(row, cell.width, cell.transparent);
    if (left == cell.width) continue;
    if (box.width == 0) box.top = y;
    bottom = y + 1;
    if (left < box.left) box.left = left;
    const uint32_t end = opaque_end(row, left, cell.width, cell.transparent);
    if (end > right) right = end;
    box.width = right - box.left;
  }
  box.height = box.width == 0 ? 0 : bottom - box.top;
  if (box.width == 0) box.left = 0;
  return box;
}

// A sprite is at least 2 x 2: one column or row is widened by one, to the
// right or down, or left or up at the cell's (compiled) edge.
void widen(uint32_t* start, uint32_t* size, uint32_t limit) {
  if (*size != 1) return;
  *size = 2;
  if (*start + 2 > limit) --*start;
}

constexpr uint64_t hash_basis = 14695981039346656037ull;
constexpr uint64_t hash_prime = 1099511628211ull;

uint64_t hash_value(uint64_t hash, uint32_t value) { return (hash ^ value) * hash_prime; }

uint32_t row_sum(const uint8_t* row, uint32_t width) {
  uint32_t sum = 0;
  for (uint32_t x = 0; x < width; ++x) sum += row[x];
  return sum;
}

// Hashes the box's size and the sums of its top, middle and bottom rows,
// which are the same for a row and its mirror image, so one hash serves
// both: with the place as it is, and with the place mirrored in the cell.
// Frames the hash puts together are compared pixel by pixel.
void hash_frame(Frame* frame, uint32_t cell_width, uint32_t stride) {
  const Box& box = frame->opaque;
  uint64_t rows = hash_value(hash_value(hash_basis, box.width), box.height);
  const uint32_t sampled[] = {0, box.height / 2, box.height - 1};
  for (uint32_t y : sampled) {
    rows = hash_value(rows, row_sum(frame->pixels + static_cast<size_t>(box.top + y) * stride + box.left, box.width));
  }
  frame->plain_hash = hash_value(hash_value(rows, box.left), box.top);
  frame->mirror_hash = hash_value(hash_value(rows, cell_width - box.left - box.width), box.top);
}

// Whether two rows of `width` pixels are the same, eight pixels a step.
bool same_row(const uint8_t* row, const uint8_t* other, uint32_t width) {
  uint32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    if (group_at(row + x) != group_at(other + x)) return false;
  }
  for (; x < width; ++x) {
    if (row[x] != other[x]) return false;
  }
  return true;
}

// Whether a row is the other's mirror image.
bool same_row_mirrored(const uint8_t* row, const uint8_t* other, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) {
    if (row[x] != other[width - 1 - x]) return false;
  }
  return true;
}

// Whether `frame`'s opaque pixels are `stored`'s, in place or mirrored.
bool same_pixels(const Frame& frame, const Frame& stored, bool mirrored, uint32_t cell_width, uint32_t stride) {
  const Box& a = frame.opaque;
  const Box& b = stored.opaque;
  const uint32_t left = mirrored ? cell_width - b.left - b.width : b.left;
  if (a.left != left || a.top != b.top || a.width != b.width || a.height != b.height) return false;
  for (uint32_t y = 0; y < a.height; ++y) {
    const size_t row_start = static_cast<size_t>(a.top + y) * stride;
    const uint8_t* row = frame.pixels + row_start + a.left;
    const uint8_t* other = stored.pixels + row_start + b.left;
    if (!(mirrored ? same_row_mirrored(row, other, a.width) : same_row(row, other, a.width))) return false;
  }
  return true;
}

// The earlier stored frame whose pixels `frame` has, by `hash`, in place or
// mirrored; frame_count when there is none.
uint32_t find_stored(const Frame& frame, uint64_t hash, bool mirrored, uint32_t cell_width, uint32_t stride) {
  for (uint32_t slot = static_cast<uint32_t>(hash) & merge_mask; merge_table[slot] != 0;
       slot = (slot + 1) & merge_mask) {
    const Frame& stored = frames[merge_table[slot] - 1];
    if (stored.plain_hash == hash && same_pixels(frame, stored, mirrored, cell_width, stride)) {
      return merge_table[slot] - 1;
    }
  }
  return frame_count;
}

void remember_stored(uint32_t number) {
  uint32_t slot = static_cast<uint32_t>(frames[number].plain_hash) & merge_mask;
  while (merge_table[slot] != 0) slot = (slot + 1) & merge_mask;
  merge_table[slot] = number + 1;
}

// Decides how frame `number` is kept: empty, stored, or sharing an earlier
// frame's sprite, in place or mirrored.
void merge_frame(uint32_t number, uint32_t cell_width, uint32_t stride) {
  Frame& frame = frames[number];
  if (frame.opaque.width == 0) {
    frame.kind = KOB_FRAME_EMPTY;
    frame.sprite = Box{0, 0, 0, 0};
    return;
  }
  hash_frame(&frame, cell_width, stride);
  uint32_t source = find_stored(frame, frame.plain_hash, false, cell_width, stride);
  frame.kind = KOB_FRAME_SAME;
  if (source == frame_count) {
    source = find_stored(frame, frame.mirror_hash, true, cell_width, stride);
    frame.kind = KOB_FRAME_MIRRORED;
  }
  if (source == frame_count) {
    frame.kind = KOB_FRAME_STORED;
    remember_stored(number);
    return;
  }
  const Box& shared = frames[source].sprite;
  frame.source = source;
  frame.sprite = shared;
  if (frame.kind == KOB_FRAME_MIRRORED) frame.sprite.left = cell_width - shared.left - shared.width;
}

// Makes room for `more` bytes at the end of out_bank (without realloc, one
// symbol fewer for the dynamic loader to find at every start).
bool reserve(uint32_t more) {
  if (out_bank_size + more <= bank_capacity) return true;
  uint32_t capacity = bank_capacity;
  while (capacity < out_bank_size + more) capacity *= 2;
  uint8_t* grown = static_cast<uint8_t*>(malloc(capacity));
  if (!grown) return fail("Cannot allocate memory for the bank\n");
  memcpy(grown, out_bank, out_bank_size);
  free(out_bank);
  out_bank = grown;
  bank_capacity = capacity;
  return true;
}

// Appends the sprite of a stored frame, compiled from its rectangle of the
// sheet.
bool append_sprite(const Frame& frame) {
  view.pixels =
      const_cast<uint8_t*>(frame.pixels) + static_cast<size_t>(frame.sprite.top) * view.stride + frame.sprite.left;
  view.width = frame.sprite.width;
  view.height = frame.sprite.height;
  if (!reserve(KOB_HEADER_SIZE)) return false;
  put_sprite_header(out_bank + out_bank_size, view);
  out_bank_size += KOB_HEADER_SIZE;
  for (uint32_t column = 0; column < view.width; ++column) {
    const unsigned length = encode_strip(view, column);
    if (!reserve(length)) return false;
    memcpy(out_bank + out_bank_size, out_strip, length);
    out_bank_size += length;
  }
  return true;
}

void put_entry(uint8_t* entry, const Frame& frame, uint32_t sprite_offset) {
  memset(entry, 0, KOB_ENTRY_SIZE);
  entry[KOB_ENTRY_KIND] = frame.kind;
  if (frame.kind == KOB_FRAME_SAME || frame.kind == KOB_FRAME_MIRRORED) {
    put_le16(entry + KOB_ENTRY_SOURCE, frame.source);
  }
  put_le32(entry + KOB_ENTRY_OFFSET, sprite_offset);
  put_le16(entry + KOB_ENTRY_LEFT, frame.sprite.left);
  put_le16(entry + KOB_ENTRY_TOP, frame.sprite.top);
  put_le16(entry + KOB_ENTRY_HOTSPOT_X, static_cast<uint32_t>(frame.hotspot_x));
  put_le16(entry + KOB_ENTRY_HOTSPOT_Y, static_cast<uint32_t>(frame.hotspot_y));
}

// Trims frame `number` from its cell and takes its hotspot.
bool cut_frame(uint32_t number, uint32_t cells_across) {
  Frame& frame = frames[number];
  view.width = grid_width;
  view.height = grid_height;
  view.pixels = src_image.pixels + static_cast<size_t>(number / cells_across) * grid_height * src_image.stride +
                static_cast<size_t>(number % cells_across) * grid_width;
  frame.pixels = view.pixels;
  frame.hotspot_x = bank_hotspot_x;
  frame.hotspot_y = bank_hotspot_y;
  if (bank_mark_given && !take_mark(view, number, &frame)) return false;
  frame.opaque = opaque_box(view);
  frame.sprite = frame.opaque;
  widen(&frame.sprite.left, &frame.sprite.width, grid_width);
  widen(&frame.sprite.top, &frame.sprite.height, strip_height_for(grid_height));
  return true;
}

bool start_bank(uint32_t cells_across) {
  const uint32_t table_size = KOB_BANK_HEADER_SIZE + frame_count * KOB_ENTRY_SIZE;
  bank_capacity = table_size + (64u << 10);
  out_bank = static_cast<uint8_t*>(malloc(bank_capacity));
  if (!out_bank) return fail("Cannot allocate memory for the bank\n");
  memcpy(out_bank, KOB_BANK_MAGIC, KOB_BANK_MAGIC_SIZE);
  put_le16(out_bank + KOB_BANK_CELL_WIDTH_OFFSET, grid_width);
  put_le16(out_bank + KOB_BANK_CELL_HEIGHT_OFFSET, grid_height);
  put_le16(out_bank + KOB_BANK_ACROSS_OFFSET, cells_across);
  put_le16(out_bank + KOB_BANK_FRAMES_OFFSET, frame_count);
  out_bank_size = table_size;
  return true;
}

}  // namespace

bool set_hotspot(const char* text) {
  const char* rest = read_decimal(text, bank_min_hotspot, bank_max_hotspot, &bank_hotspot_x);
  rest = rest && *rest == ',' ? read_decimal(rest + 1, bank_min_hotspot, bank_max_hotspot, &bank_hotspot_y) : nullptr;
  if (rest && *rest == '\0') return true;
  return fail("Bad hotspot '%s': give it as <x>,<y>, each -32768 to 32767\n", text);
}

bool set_mark(const char* text) {
  int32_t index;
  const char* rest = read_decimal(text, 0, 255, &index);
  if (!rest || *rest != '\0') return fail("Bad mark '%s': give a palette index, 0 to 255\n", text);
  bank_mark = static_cast<uint8_t>(index);
  bank_mark_given = true;
  return true;
}

bool compile_bank() {
  const uint32_t cells_across = src_image.width / grid_width;
  const uint32_t cells = cells_across * (src_image.height / grid_height);
  if (cells > KOB_BANK_MAX_SHEET) {
    return fail("Sheet has %u cells, more than the %u frames of a bank\n", cells, KOB_BANK_MAX_SHEET);
  }
  if (bank_mark_given && bank_mark == src_image.transparent) {
    return fail("Mark %u is the transparent index\n", bank_mark);
  }
  frame_count = cells;
  view = src_image;
  for (merge_mask = 1; merge_mask < 2 * cells - 1; merge_mask = merge_mask * 2 + 1) continue;
  memset(merge_table, 0, (merge_mask + 1) * sizeof merge_table[0]);
  for (uint32_t number = 0; number < cells; ++number) {
    if (!cut_frame(number, cells_across)) return false;
  }
  for (uint32_t number = 0; number < cells; ++number) merge_frame(number, grid_width, src_image.stride);
  if (!start_bank(cells_across)) return false;
  for (uint32_t number = 0; number < cells; ++number) {
    const uint32_t sprite_offset = frames[number].kind == KOB_FRAME_STORED ? out_bank_size : 0;
    if (sprite_offset != 0 && !append_sprite(frames[number])) return false;
    put_entry(out_bank + KOB_BANK_HEADER_SIZE + number * KOB_ENTRY_SIZE, frames[number], sprite_offset);
  }
  return true;
}

bool write_bank(const char* path) { return write_file(path, out_bank, out_bank_size); }
