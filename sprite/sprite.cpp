#include "sprite/sprite.h"

// The strip buffer's fence is checked with a standard assertion that must
// hold in every build, release builds included.
#undef NDEBUG
#include <cassert>
#include <cstring>

#include "io.h"

uint8_t out_strip[kob_strip_capacity];

void put_sprite_header(uint8_t* header, const Image& image) {
  memcpy(header, KOB_MAGIC, KOB_MAGIC_SIZE);
  put_le16(header + KOB_HEIGHT_OFFSET, strip_height_for(image.height));
  put_le16(header + KOB_WIDTH_OFFSET, image.width);
  put_le32(header + KOB_RESERVED_OFFSET, 0);
}

bool write_sprite_header(int fd, const Image& image) {
  uint8_t header[KOB_HEADER_SIZE];
  put_sprite_header(header, image);
  return write_all(fd, header, sizeof header);
}

bool write_sprite(const char* path, const Image& image) {
  int fd = create_file(path);
  if (fd < 0) return false;
  if (!write_sprite_header(fd, image)) return write_failed(fd, path);
  for (uint32_t column = 0; column < image.width; ++column) {
    unsigned length = encode_strip(image, column);
    if (!write_all(fd, out_strip, length)) return write_failed(fd, path);
  }
  return finish_file(fd, path);
}

// A column is walked with a pointer to the pixel at the current row, moved
// down a row by adding the buffer's stride.
//
// Counts the pixels equal to `value` from `pixel` down, at most `limit`.
// Skips and runs are mostly long, so the scan compares four rows a step.
static uint32_t count_equal(const uint8_t* pixel, size_t stride, uint32_t limit, uint8_t value) {
  uint32_t n = 0;
  while (n + 4 <= limit && pixel[0] == value && pixel[stride] == value && pixel[2 * stride] == value &&
         pixel[3 * stride] == value) {
    n += 4;
    pixel += 4 * stride;
  }
  while (n < limit && *pixel == value) {
    ++n;
    pixel += stride;
  }
  return n;
}

// Copies opaque pixels from `pixel` down into `data`, at most `limit`, and
// returns how many. Six equal pixels in a row are better as a run: at the
// sixth the literal gives back the four before it and ends after the first,
// so the next record's run probe finds a run of at least five.
static uint32_t copy_literal(const uint8_t* pixel, size_t stride, uint32_t limit, uint8_t transparent, uint8_t* data) {
  uint8_t previous = transparent;  // no copied pixel can equal it
  uint32_t repeats = 0;
  for (uint32_t n = 0; n < limit; ++n, pixel += stride) {
    if (*pixel == transparent) return n;
    if (*pixel != previous) {
      repeats = 0;
    } else if (++repeats == kob_literal_max_repeat) {
      return n - (kob_literal_max_repeat - 1);
    }
    data[n] = previous = *pixel;
  }
  return limit;
}

static uint32_t at_most(uint32_t a, uint32_t b) { return a < b ? a : b; }

unsigned encode_strip(const Image& image, uint32_t column) {
  const size_t stride = image.stride;
  const uint8_t transparent = image.transparent;
  const uint8_t* pixel = image.pixels + column;
  uint32_t rows_left = strip_height_for(image.height);
  uint8_t* d = out_strip;
  uint8_t* const dfence = out_strip + kob_strip_capacity;
  while (rows_left > 0) {
    uint8_t* record = d;
    uint32_t skip = count_equal(pixel, stride, at_most(rows_left, KOB_MAX_SKIP), transparent);
    pixel += skip * stride;
    rows_left -= skip;
    record[1] = static_cast<uint8_t>(skip);
    uint32_t n = 0;
    if (rows_left > 0 && *pixel != transparent) {
      n = count_equal(pixel, stride, at_most(rows_left, KOB_MAX_RUN), *pixel);
      if (n >= KOB_MIN_RUN) {
        record[0] = static_cast<uint8_t>(KOB_RUN_BASE + n);
        record[2] = *pixel;
        d = record + 3;
        pixel += n * stride;
        rows_left -= n;
        continue;
      }
      n = copy_literal(pixel, stride, at_most(rows_left, KOB_MAX_LITERAL), transparent, record + 2);
    }
    record[0] = static_cast<uint8_t>(n);
    d = record + 2 + n;
    pixel += n * stride;
    rows_left -= n;
  }
  *d++ = KOB_END;
  assert(d <= dfence);
  return static_cast<unsigned>(d - out_strip);
}
