// The Mode X library on the in-memory VGA: sprites compiled by the real stages,
// drawn whole and strip by strip, against a picture painted straight from the
// image's pixels; and malformed sprites against the checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>

#include "modex/kob.h"
#include "modex/modex.h"
#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"
#include "support.h"

namespace {

using namespace std::literals;

// Every row (width, height, x, y, clip), drawn whole and strip by strip, plain
// and mirrored: the planes hold the painted picture, each visible opaque pixel
// stored once and nothing else stored, one plane select per plane with a
// column in the clip.
// `wide` is a wider virtual screen whose page wraps past 64 KiB.
TEST(Modex, DrawsWhatThePixelsPaint) {
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, page2 = {19200, 80, 0, 0, 320, 240, 0};
  const kob_target window = {0, 80, 17, 9, 250, 201, 0}, wide = {40000, 128, 0, 0, 512, 200, 0};
  const kob_target beyond = {19200, 80, -6, -9, 100, 60, 0};  // edges left of and above the page
  std::vector<std::tuple<uint32_t, uint32_t, int, int, kob_target>> rows = {
      {37, 23, 100, 100, screen},  {37, 23, 101, 100, screen},        {37, 23, 102, 100, screen},
      {37, 23, 103, 100, screen},  {37, 23, -5, -7, screen},          {37, 23, 300, 230, screen},
      {37, 23, -37, 0, screen},    {37, 23, 320, 10, screen},         {37, 23, 5, -23, screen},
      {37, 23, 5, 240, screen},    {2, 2, 318, 238, screen},          {2, 2, -1, -1, screen},
      {511, 255, -95, -7, screen}, {511, 256, -100, -10, page2},      {400, 250, -41, -3, window},
      {3, 200, 16, -50, window},   {511, 255, -32767, 32767, screen}, {200, 64, 400, 20, wide},
      {60, 60, 230, 170, window},  {5, 3, 247, 199, window},          {37, 23, -7, -5, beyond},
  };
  for (unsigned seed = 0; seed < 12; ++seed) {
    srand(100 + seed);
    rows.push_back({2 + static_cast<uint32_t>(rand()) % 510, 2 + static_cast<uint32_t>(rand()) % 254,
                    rand() % 700 - 350, rand() % 600 - 300, seed % 2 ? screen : page2});
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& [w, h, x, y, c] = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    // Seeded random runs, a third transparent, none the background 255, compiled by pcx2kob's stages.
    srand(static_cast<unsigned>(i));
    Bytes pixels(w * h);
    uint8_t value = 0;
    for (uint8_t& pixel : pixels) {
      if (rand() % 4 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
      pixel = value;
    }
    transparent_color = 0;
    std::string path = scratch_path("modex.kob");
    ASSERT_TRUE(load_pcx(build_pcx(pcx_of(pixels, w, h, w))) && decode_src_pcx() &&
                write_sprite(path.c_str(), src_image));
    release_image();
    Bytes file = read_bytes(path);
    kob_sprite sprite;
    kob_fault fault;
    std::vector<kob_size> strips(w);
    ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), w, &fault), KOB_OK);
    // The four planes as they must be: every opaque pixel of the first 255
    // rows inside the clip rectangle, which never reaches left of or above
    // the page, on the background, nothing else; mirrored, column c lands at
    // x + w - 1 - c.
    std::set<long> columns;  // inside the rectangle, opaque or not
    auto paint = [&](bool mirrored) {
      Bytes planes(sizeof vga.plane, 255);
      for (long row = 0; row < std::min<long>(h, 255); ++row) {
        for (long column = 0; column < w; ++column) {
          long sx = x + (mirrored ? w - 1 - column : column), sy = y + row;
          if (sx < std::max(c.left, 0) || sx >= c.right || sy < std::max(c.top, 0) || sy >= c.bottom) continue;
          columns.insert(sx);
          if (uint8_t pixel = pixels[row * w + column])
            planes[sx % 4 * VGA_PLANE_SIZE + (c.page + sy * c.pitch + sx / 4) % VGA_PLANE_SIZE] = pixel;
        }
      }
      return planes;
    };
    const Bytes painted[2] = {paint(false), paint(true)};
    for (bool mirrored : {false, true}) {
      const Bytes& planes = painted[mirrored];
      unsigned long visible = std::count_if(planes.begin(), planes.end(), [](uint8_t b) { return b != 255; });
      for (bool whole : {true, false}) {
        kob_target target = c;
        vga_model_reset(255);
        if (whole) (mirrored ? kob_draw_mirrored : kob_draw)(&target, &sprite, x, y);
        // Strip by strip in plane order, as a viewer streaming them from a file.
        for (unsigned plane = 0; !whole && plane < 4; ++plane) {
          for (unsigned column = 0; column < sprite.width; ++column) {
            int at = x + int(mirrored ? w - 1 - column : column);
            if ((at & 3) != int(plane)) continue;
            kob_draw_strip(&target, sprite.data + sprite.strip[column], sprite.height, at, y);
          }
        }
        SCOPED_TRACE(std::string(mirrored ? "mirrored, " : "plain, ") + (whole ? "whole" : "strip by strip"));
        EXPECT_EQ(memcmp(vga.plane, planes.data(), planes.size()), 0);
        EXPECT_EQ(std::make_tuple(vga.stores, vga.overwrites, vga.selects),
                  std::make_tuple(visible, 0ul, std::min<unsigned long>(4, columns.size())));
      }
    }
  }
}

// A broken sprite: what the checker reports, in the whole file and when the
// strips are checked one window at a time as a streaming reader does.
TEST(Modex, RefusesBrokenSprites) {
  auto check = [](const Bytes& bytes, int code, unsigned strip, kob_size offset, kob_size value, unsigned count = 2) {
    kob_size size = bytes.size();
    // Exact copies on the heap, so that the sanitizers see any access past them.
    std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
    memcpy(data.get(), bytes.data(), size);
    std::unique_ptr<kob_size[]> strips(new kob_size[count]);
    kob_sprite sprite;
    kob_fault fault;
    int opened = kob_open(&sprite, data.get(), size, strips.get(), count, &fault);
    bool in_strip = code >= KOB_SHORT_STRIP && code != KOB_TRAILING_DATA && code != KOB_TABLE_TOO_SMALL;
    EXPECT_EQ(std::make_tuple(opened, fault.code, in_strip ? fault.strip : 0, fault.offset, fault.value),
              std::make_tuple(code, code, strip, offset, value));
    if (code == KOB_TABLE_TOO_SMALL) return;
    // Streamed: the header, then each strip from at most a window of bytes.
    kob_scan scan;
    int streamed = kob_scan_header(&scan, data.get(), std::min<kob_size>(size, KOB_HEADER_SIZE), &fault);
    while (streamed == KOB_OK && scan.column < scan.width) {
      streamed = kob_scan_strip(&scan, data.get() + scan.at, std::min<kob_size>(size - scan.at, KOB_STRIP_WINDOW), size,
                                &fault);
    }
    EXPECT_EQ(std::make_tuple(streamed, fault.offset, fault.value), std::make_tuple(code, offset, value)) << "streamed";
  };
  // 255 rows: strip 0 the longest sound strip, one-pixel literals, then in
  // place of its end byte a record one row too many, found only at the last
  // byte a streaming reader's window holds.
  Bytes longest = join({bytes_of("KOB1VGAX"), {0xff, 0, 2, 0, 0, 0, 0, 0}});
  for (int row = 0; row < 255; ++row) longest.insert(longest.end(), {1, 0, 5});
  check(join({longest, {0, 1, 0xff}}), KOB_ROWS_MISMATCH, 0, 16 + 765, 256);
  // A table one entry short of the width, and an empty one.
  const Bytes sound = join({bytes_of("KOB1VGAX"), {3, 0, 2, 0, 0, 0, 0, 0}, {0x83, 0, 7, 0xff}, {1, 2, 9, 0xff}});
  check(sound, KOB_TABLE_TOO_SMALL, 0, 10, 2, 1);
  check(sound, KOB_TABLE_TOO_SMALL, 0, 10, 2, 0);
  // Rows (at, patch, code, strip, offset, value) patch a sound 2 x 3 sprite
  // (column 0 a run of 3, column 1 a skip and a literal) with bytes from `at`,
  // or cut it there when there are none.
  const Bytes& good = sound;
  const std::vector<std::tuple<size_t, std::string_view, int, unsigned, kob_size, kob_size>> rows = {
      {7, "Y"sv, KOB_BAD_MAGIC, 0, 0, 0},          {8, "\0\1"sv, KOB_BAD_HEIGHT, 0, 8, 256},
      {10, "\0\2"sv, KOB_BAD_WIDTH, 0, 10, 512},   {12, "\0\0\0\x80"sv, KOB_BAD_RESERVED, 0, 12, 0x80000000ul},
      {20, "\x7f"sv, KOB_CONTROL_127, 1, 20, 127}, {20, "\x81"sv, KOB_SHORT_RUN, 1, 20, 1},
      {21, "\xff"sv, KOB_SKIP_255, 1, 21, 255},    {16, "\x80\0"sv, KOB_SHORT_RUN, 0, 16, 0},
      {20, "\0\0"sv, KOB_EMPTY_RECORD, 1, 20, 0},  {16, "\xfe"sv, KOB_ROWS_MISMATCH, 0, 16, 126},
      {21, "\1"sv, KOB_ROWS_MISMATCH, 1, 23, 2},   {24, "\xff"sv, KOB_TRAILING_DATA, 0, 24, 1},
      {15, "", KOB_SHORT_HEADER, 0, 15, 0},        {22, "", KOB_SHORT_STRIP, 1, 22, 0},
      {21, "", KOB_SHORT_STRIP, 1, 21, 0},         {18, "", KOB_SHORT_STRIP, 0, 18, 0},
  };
  for (const auto& [at, patch, code, strip, offset, value] : rows) {
    Bytes sprite = good;
    sprite.resize(patch.empty() ? at : std::max(sprite.size(), at + patch.size()));
    std::copy(patch.begin(), patch.end(), sprite.begin() + static_cast<long>(at));
    check(sprite, code, strip, offset, value);
  }
}

// The trial's sequence: a draw leaves plane 3 selected, another library call
// comes between, then a draw whose first plane is 3, whole or strip by
// strip. Whatever the call did to the map mask, the second draw lands exactly
// where its pixels paint, selecting planes at most 4 times, with no help
// from the caller.
TEST(Modex, DrawsRightAfterAnyLibraryCall) {
  const uint32_t w = 23, h = 17;
  const Bytes pixels = random_runs(w, h, 3), file = kob_of(pixels, w, h);
  kob_sprite sprite;
  kob_fault fault;
  std::vector<kob_size> strips(w);
  ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), w, &fault), KOB_OK);
  const Bytes row(MODEX_WIDTH, 9);
  kob_target other;
  kob_target_init(&other, MODEX_PAGE_BYTES);
  const std::vector<std::pair<const char*, std::function<void()>>> between = {
      {"modex_fill", [] { modex_fill(0, MODEX_PAGE_BYTES, 7); }},
      {"modex_copy", [] { modex_copy(MODEX_PAGE_BYTES, 0, 4000); }},
      {"modex_write_row", [&] { modex_write_row(0, 60, row.data()); }},
      {"modex_leave, modex_enter", [] { modex_leave(), modex_enter(); }},
      {"kob_draw on another target, ending on plane 1", [&] { kob_draw(&other, &sprite, 98, 5); }},
      {"kob_draw_strip on another target, plane 1", [&] { kob_draw_strip(&other, sprite.data, h, 97, 5); }},
  };
  for (const auto& [what, call] : between) {
    for (bool whole : {true, false}) {
      SCOPED_TRACE(std::string(what) + (whole ? ", whole" : ", strip by strip"));
      vga_model_reset(0);
      modex_enter();
      kob_target target;
      kob_target_init(&target, 0);
      kob_draw(&target, &sprite, 100, 50);
      call();
      Bytes planes(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane);
      const int x = 103, y = 52;
      for (uint32_t r = 0; r < h; ++r)
        for (uint32_t c = 0; c < w; ++c)
          if (uint8_t pixel = pixels[r * w + c])
            planes[(x + c) % 4 * VGA_PLANE_SIZE + (y + r) * 80 + (x + c) / 4] = pixel;
      unsigned long selects = vga.selects;
      if (whole) kob_draw(&target, &sprite, x, y);
      for (unsigned plane = 0; !whole && plane < 4; ++plane)
        for (unsigned c = (plane + 1) % 4; c < w; c += 4)
          kob_draw_strip(&target, sprite.data + sprite.strip[c], h, x + c, y);
      EXPECT_EQ(memcmp(vga.plane, planes.data(), planes.size()), 0);
      EXPECT_LE(vga.selects - selects, 4ul);
    }
  }
}

}  // namespace
