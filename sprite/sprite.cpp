#include "sprite/sprite.h"

// The strip buffer's fence is checked with a standard assertion that must
// hold in every build, release builds included.
#undef NDEBUG
#include <cassert>
#include <cstring>

#include "io.h"
#include "pcx/pcx.h"
#include "pcx2kob.h"

uint8_t out_strip[kob_strip_capacity];

static void put_le16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

static void put_le32(uint8_t* p, uint32_t value) {
  put_le16(p, value);
  put_le16(p + 2, value >> 16);
}

bool write_sprite_header(int fd) {
  uint8_t header[kob_header_size];
  memcpy(header, kob_magic, kob_magic_size);
  put_le16(header + kob_height_offset, out_strip_height);
  put_le16(header + kob_width_offset, out_strips);
  put_le32(header + kob_reserved_offset, 0);
  return write_all(fd, header, sizeof header);
}

bool write_sprite(const char* path) {
  int fd = create_file(path);
  if (fd < 0) return false;
  if (!write_sprite_header(fd)) return write_failed(path);
  for (uint32_t column = 0; column < out_strips; ++column) {
    unsigned length = encode_strip(column);
    if (!write_all(fd, out_strip, length)) return write_failed(path);
  }
  return finish_file(fd, path);
}

// One column of the pixel buffer, read top to bottom.
struct Column {
  const uint8_t* top;
  uint32_t stride;
  uint8_t operator[](uint32_t row) const { return top[row * stride]; }
};

// Counts the pixels equal to column[y] from row y down, at most kob_max_run.
static uint32_t run_length(Column column, uint32_t y, uint32_t height) {
  uint8_t colour = column[y];
  uint32_t count = 1;
  while (count < kob_max_run && y + count < height && column[y + count] == colour) ++count;
  return count;
}

// Copies opaque pixels from row y down into `data`, at most kob_max_literal,
// and returns how many. Six equal pixels in a row are better as a run: at the
// sixth the literal gives back the four before it and ends after the first,
// so the next record's run probe finds a run of at least five.
static uint32_t copy_literal(Column column, uint32_t y, uint32_t height, uint8_t* data) {
  uint8_t previous = transparent_color;  // no copied pixel can equal it
  uint32_t repeats = 0;
  uint32_t n = 0;
  while (n < kob_max_literal && y + n < height) {
    uint8_t pixel = column[y + n];
    if (pixel == transparent_color) break;
    if (pixel == previous && repeats == kob_literal_max_repeat - 1) return n - (kob_literal_max_repeat - 1);
    repeats = pixel == previous ? repeats + 1 : 0;
    data[n++] = pixel;
    previous = pixel;
  }
  return n;
}

unsigned encode_strip(uint32_t column_index) {
  const Column column{src_pcx + column_index, src_pcx_stride};
  const uint32_t height = out_strip_height;
  uint8_t* d = out_strip;
  uint8_t* const dfence = out_strip + kob_strip_capacity;
  uint32_t y = 0;
  while (y < height) {
    uint8_t* record = d;
    uint32_t skip = 0;
    while (skip < kob_max_skip && y < height && column[y] == transparent_color) ++skip, ++y;
    record[1] = static_cast<uint8_t>(skip);
    uint32_t n = 0;
    if (y < height && column[y] != transparent_color) {
      n = run_length(column, y, height);
      if (n >= kob_min_run) {
        record[0] = static_cast<uint8_t>(kob_run_base + n);
        record[2] = column[y];
        d = record + 3;
        y += n;
        continue;
      }
      n = copy_literal(column, y, height, record + 2);
    }
    record[0] = static_cast<uint8_t>(n);
    d = record + 2 + n;
    y += n;
  }
  *d++ = kob_end_of_strip;
  assert(d <= dfence);
  return static_cast<unsigned>(d - out_strip);
}
