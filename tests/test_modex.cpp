// The Mode X library on the in-memory VGA: sprites compiled by the real
// stages, drawn whole and strip by strip, against a picture painted straight
// from the image's pixels; and malformed sprites against the checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "modex/kob.h"
#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"
#include "support.h"

namespace {

struct Image {
  uint32_t width, height;
  Bytes pixels;
};

// Seeded random pixels in runs, about a third of them transparent (index 0);
// no pixel takes the background index 255.
Image random_image(uint32_t width, uint32_t height, unsigned seed) {
  srand(seed);
  Image image{width, height, Bytes(width * height)};
  uint8_t value = 0;
  for (uint8_t& pixel : image.pixels) {
    if (rand() % 4 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    pixel = value;
  }
  return image;
}

// The sprite pcx2kob's stages compile from the image, transparent index 0.
Bytes compile(const Image& image) {
  transparent_color = 0;
  EXPECT_TRUE(load_pcx(build_pcx(pcx_of(image.pixels, image.width, image.height, image.width))));
  EXPECT_TRUE(decode_src_pcx());
  std::string path = scratch_path("modex.kob");
  EXPECT_TRUE(write_sprite(path.c_str()));
  release_image();
  return read_bytes(path);
}

const uint8_t background = 255;

// The four planes as they must be after drawing: every opaque pixel of the
// first 255 rows that falls inside the clip rectangle, nothing else.
std::vector<Bytes> painted_reference(const Image& image, const kob_target& target, int x, int y,
                                     unsigned long& visible) {
  std::vector<Bytes> planes(VGA_PLANES, Bytes(VGA_PLANE_SIZE, background));
  visible = 0;
  for (uint32_t row = 0; row < std::min(image.height, 255u); ++row) {
    for (uint32_t column = 0; column < image.width; ++column) {
      long sx = x + static_cast<long>(column), sy = y + static_cast<long>(row);
      uint8_t pixel = image.pixels[row * image.width + column];
      if (pixel == 0 || sx < target.left || sx >= target.right || sy < target.top || sy >= target.bottom) continue;
      planes[sx % 4][(target.page + sy * target.pitch + sx / 4) % VGA_PLANE_SIZE] = pixel;
      ++visible;
    }
  }
  return planes;
}

// Columns of the sprite inside the clip rectangle; none when no row is.
long visible_columns(const Image& image, const kob_target& clip, long x, long y) {
  long rows = std::min<long>(y + std::min(image.height, 255u), clip.bottom) - std::max<long>(y, clip.top);
  long columns = std::min<long>(x + image.width, clip.right) - std::max<long>(x, clip.left);
  return rows > 0 && columns > 0 ? columns : 0;
}

bool planes_equal(const std::vector<Bytes>& expected) {
  for (int p = 0; p < VGA_PLANES; ++p) {
    if (memcmp(vga.plane[p], expected[p].data(), VGA_PLANE_SIZE) != 0) return false;
  }
  return true;
}

// Draws the sprite's strips one by one, as a viewer streaming them from a
// file does, in plane order.
void draw_strip_by_strip(kob_target& target, const kob_sprite& sprite, int x, int y) {
  for (unsigned plane = 0; plane < 4; ++plane) {
    for (unsigned column = 0; column < sprite.width; ++column) {
      if (((x + static_cast<long>(column)) & 3) != plane) continue;
      kob_draw_strip(&target, sprite.data + sprite.strip[column], sprite.height, x + static_cast<int>(column), y);
    }
  }
}

// Every row: each visible opaque pixel stored once, nothing else stored,
// one plane select per plane shown, whether drawn whole or strip by strip.
TEST(Modex, DrawsWhatThePixelsPaint) {
  struct Row {
    uint32_t width, height;
    int x, y;
    kob_target clip;  // page, pitch, rectangle; mask is ignored
  };
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0};
  const kob_target page2 = {19200, 80, 0, 0, 320, 240, 0};
  const kob_target window = {0, 80, 17, 9, 250, 201, 0};
  const kob_target wide = {40000, 128, 0, 0, 512, 200, 0};  // a wider virtual screen, wrapping past 64 KiB
  std::vector<Row> rows = {
      {37, 23, 100, 100, screen},  {37, 23, 101, 100, screen},        {37, 23, 102, 100, screen},
      {37, 23, 103, 100, screen},  {37, 23, -5, -7, screen},          {37, 23, 300, 230, screen},
      {37, 23, -37, 0, screen},    {37, 23, 320, 10, screen},         {37, 23, 5, -23, screen},
      {37, 23, 5, 240, screen},    {2, 2, 318, 238, screen},          {2, 2, -1, -1, screen},
      {511, 255, -95, -7, screen}, {511, 256, -100, -10, page2},      {400, 250, -41, -3, window},
      {3, 200, 16, -50, window},   {511, 255, -32767, 32767, screen}, {200, 64, 400, 20, wide},
      {60, 60, 230, 170, window},  {5, 3, 247, 199, window},
  };
  for (unsigned seed = 0; seed < 12; ++seed) {
    srand(100 + seed);
    rows.push_back({2 + static_cast<uint32_t>(rand()) % 510, 2 + static_cast<uint32_t>(rand()) % 254,
                    rand() % 700 - 350, rand() % 600 - 300, seed % 2 ? screen : page2});
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    std::string what = "row " + std::to_string(i);
    Image image = random_image(row.width, row.height, static_cast<unsigned>(i));
    Bytes file = compile(image);
    kob_sprite sprite;
    kob_fault fault;
    ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), &fault), KOB_OK) << what;
    unsigned long visible = 0;
    std::vector<Bytes> expected = painted_reference(image, row.clip, row.x, row.y, visible);
    for (bool whole : {true, false}) {
      kob_target target = row.clip;
      target.mask = 0;
      vga_model_reset(background);
      if (whole) kob_draw(&target, &sprite, row.x, row.y);
      if (!whole) draw_strip_by_strip(target, sprite, row.x, row.y);
      EXPECT_TRUE(planes_equal(expected)) << what << (whole ? " whole" : " strip by strip");
      EXPECT_EQ(vga.stores, visible) << what;
      EXPECT_EQ(vga.overwrites, 0u) << what;
      EXPECT_EQ(vga.selects, std::min(4l, visible_columns(image, row.clip, row.x, row.y))) << what;
    }
  }
}

// A broken sprite: what the checker reports, in the whole file and when
// the strips are checked one window at a time as a streaming reader does.
TEST(Modex, RefusesBrokenSprites) {
  // 2 x 3: column 0 a run of 3, column 1 a skip and a literal.
  const Bytes good = join(
      {bytes_of("KOB1VGAX"), {0x03, 0x00, 0x02, 0x00, 0, 0, 0, 0}, {0x83, 0x00, 0x07, 0xff}, {0x01, 0x02, 0x09, 0xff}});
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes sprite = good;
    std::copy(bytes.begin(), bytes.end(), sprite.begin() + static_cast<long>(at));
    return sprite;
  };
  struct Row {
    Bytes sprite;
    int code;
    unsigned strip;
    kob_size offset, value;
  };
  // 255 rows: strip 0 the longest sound strip, one-pixel literals, then in
  // place of its end byte a record one row too many, found only at the last
  // byte a streaming reader's window holds.
  Bytes longest = join({bytes_of("KOB1VGAX"), {0xff, 0x00, 0x02, 0x00, 0, 0, 0, 0}});
  for (int row = 0; row < 255; ++row) longest.insert(longest.end(), {0x01, 0x00, 0x05});
  const std::vector<Row> rows = {
      {join({longest, {0x00, 0x01, 0xff}}), KOB_ROWS_MISMATCH, 0, 16 + 765, 256},
      {Bytes(good.begin(), good.begin() + 15), KOB_SHORT_HEADER, 0, 15, 0},
      {with(7, {'Y'}), KOB_BAD_MAGIC, 0, 0, 0},
      {with(8, {0x00, 0x01}), KOB_BAD_HEIGHT, 0, 8, 256},
      {with(10, {0x00, 0x02}), KOB_BAD_WIDTH, 0, 10, 512},
      {with(12, {0, 0, 0, 0x80}), KOB_BAD_RESERVED, 0, 12, 0x80000000ul},
      {with(20, {0x7f}), KOB_CONTROL_127, 1, 20, 127},
      {with(20, {0x81}), KOB_SHORT_RUN, 1, 20, 1},
      {with(21, {0xff}), KOB_SKIP_255, 1, 21, 255},
      {with(16, {0x80, 0x00}), KOB_SHORT_RUN, 0, 16, 0},
      {with(20, {0x00, 0x00}), KOB_EMPTY_RECORD, 1, 20, 0},
      {with(16, {0xfe}), KOB_ROWS_MISMATCH, 0, 16, 126},
      {with(21, {0x01}), KOB_ROWS_MISMATCH, 1, 23, 2},
      {Bytes(good.begin(), good.end() - 2), KOB_SHORT_STRIP, 1, 22, 0},
      {Bytes(good.begin(), good.begin() + 21), KOB_SHORT_STRIP, 1, 21, 0},
      {Bytes(good.begin(), good.begin() + 18), KOB_SHORT_STRIP, 0, 18, 0},
      {join({good, {0xff}}), KOB_TRAILING_DATA, 0, 24, 1},
  };
  for (const Row& row : rows) {
    std::string what = "row " + std::to_string(&row - rows.data());
    // An exact copy on the heap, so that the sanitizers see any read past it.
    std::unique_ptr<uint8_t[]> data(new uint8_t[row.sprite.size()]);
    memcpy(data.get(), row.sprite.data(), row.sprite.size());
    kob_sprite sprite;
    kob_fault fault;
    ASSERT_EQ(kob_open(&sprite, data.get(), row.sprite.size(), &fault), row.code) << what;
    EXPECT_EQ(fault.code, row.code) << what;
    if (row.code >= KOB_SHORT_STRIP && row.code != KOB_TRAILING_DATA) {
      EXPECT_EQ(fault.strip, row.strip) << what;
    }
    EXPECT_EQ(fault.offset, row.offset) << what;
    EXPECT_EQ(fault.value, row.value) << what;

    // Streamed: the header, then each strip from at most a window of bytes.
    unsigned width = 0, height = 0;
    kob_size at = KOB_HEADER_SIZE, length = 0, size = row.sprite.size();
    int code = kob_check_header(data.get(), size, &width, &height, &fault);
    for (unsigned column = 0; code == KOB_OK && column < width; ++column, at += length) {
      code = kob_check_strip(data.get() + at, std::min<kob_size>(size - at, KOB_STRIP_WINDOW), height, column, &length,
                             &fault);
      fault.offset += at;
    }
    if (code == KOB_OK && size > at) code = KOB_TRAILING_DATA, fault.offset = at;
    EXPECT_EQ(code, row.code) << what << " streamed";
    EXPECT_EQ(fault.offset, row.offset) << what << " streamed";
  }
}

}  // namespace
