// KOB banks in the Mode X library: the checker against a small bank cut at
// every byte and broken in every way, and frames drawn by their hotspots on
// the in-memory VGA against pictures painted from the sheet's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>

#include "modex/kobbank.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

using namespace std::literals;

// 3 x 2: column 0 two pixels, column 1 one under a skip, column 2 none.
const Bytes sprite_a =
    join({bytes_of("KOB1VGAX"), {2, 0, 3, 0, 0, 0, 0, 0}, {2, 0, 5, 6, 0xff}, {1, 1, 7, 0xff}, {0, 2, 0xff}});
// 2 x 2: column 0 transparent, column 1 two pixels.
const Bytes sprite_b = join({bytes_of("KOB1VGAX"), {2, 0, 2, 0, 0, 0, 0, 0}, {0, 2, 0xff}, {2, 0, 9, 10, 0xff}});

// Cells of 6 x 5, two across, three rows: frame 0 stores sprite a at (1, 2),
// frame 1 is its mirror image, frame 2 stores sprite b in the cell's
// bottom-right corner, frame 4 is frame 2 again, frames 3 and 5 are empty.
// The table ends at byte 112, sprite a at 140, sprite b at 164.
Bytes small_bank() {
  return build_bank(6, 5, 2,
                    {{1, 0, 1, 2, 2, 4, sprite_a},
                     {3, 0, 2, 2, -1, 300, {}},
                     {1, 0, 4, 3, 0, 0, sprite_b},
                     {0, 0, 0, 0, 7, -7, {}},
                     {2, 2, 4, 3, 5, 5, {}},
                     {}});
}

// The verdict on exact copies of the bytes on the heap, so that the
// sanitizers see any read past them.
int open_bank(const Bytes& bytes, kob_bank& bank, kob_bank_fault& fault) {
  std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), data.get());
  return kob_bank_open(&bank, data.get(), bytes.size(), &fault);
}

TEST(Bank, RefusesEveryTruncation) {
  const Bytes whole = small_bank();
  ASSERT_EQ(whole.size(), 164u);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    kob_bank bank;
    kob_bank_fault fault;
    int code = open_bank(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)), bank, fault);
    // The file ends at a sprite's start: its entry names the byte; anywhere
    // else the byte named is where the file ends.
    if (cut == 112 || cut == 140) {
      EXPECT_EQ(std::make_tuple(code, fault.frame, fault.offset, fault.value),
                std::make_tuple(KOB_BANK_SPRITE_PAST_END, cut == 112 ? 0u : 2u, cut == 112 ? 20ul : 52ul, cut));
      continue;
    }
    int expected = cut < 16 ? KOB_BANK_SHORT_HEADER : cut < 112 ? KOB_BANK_SHORT_TABLE : KOB_BANK_BAD_SPRITE;
    EXPECT_EQ(std::make_tuple(code, fault.offset), std::make_tuple(expected, cut));
    if (expected == KOB_BANK_SHORT_TABLE) {
      EXPECT_EQ(fault.frame, (cut - 16) / 16);
    }
    if (expected == KOB_BANK_BAD_SPRITE) {
      EXPECT_EQ(fault.frame, cut < 140 ? 0u : 2u);
      EXPECT_TRUE(fault.sprite.code == KOB_SHORT_HEADER || fault.sprite.code == KOB_SHORT_STRIP);
    }
  }
}

// Rows (at, patch, code, frame, offset, value, the sprite checker's code)
// patch the small bank from `at`, growing it where the patch runs past it.
TEST(Bank, RefusesEachCorruptionAtItsByte) {
  const std::vector<std::tuple<size_t, std::string_view, int, unsigned, kob_size, kob_size, int>> rows = {
      {7, "Y"sv, KOB_BANK_BAD_MAGIC, 0, 0, 0, KOB_OK},
      {8, "\1\0"sv, KOB_BANK_BAD_CELL_WIDTH, 0, 8, 1, KOB_OK},
      {8, "\0\2"sv, KOB_BANK_BAD_CELL_WIDTH, 0, 8, 512, KOB_OK},
      {10, "\1\1"sv, KOB_BANK_BAD_CELL_HEIGHT, 0, 10, 257, KOB_OK},
      {12, "\0\0"sv, KOB_BANK_BAD_ACROSS, 0, 12, 0, KOB_OK},
      {12, "\x56\x05"sv, KOB_BANK_BAD_ACROSS, 0, 12, 1366, KOB_OK},  // 1366 cells of 6 are over 8192 pixels
      {14, "\0\0"sv, KOB_BANK_BAD_FRAMES, 0, 14, 0, KOB_OK},
      {14, "\5\0"sv, KOB_BANK_BAD_FRAMES, 0, 14, 5, KOB_OK},          // not whole rows of two
      {14, "\xce\x0c"sv, KOB_BANK_BAD_FRAMES, 0, 14, 3278, KOB_OK},   // 1639 rows of 5 are over 8192
      {14, "\x08"sv, KOB_BANK_MISPLACED_SPRITE, 0, 20, 112, KOB_OK},  // the table grows over sprite a
      {64, "\4"sv, KOB_BANK_BAD_KIND, 3, 64, 4, KOB_OK},
      {65, "\1"sv, KOB_BANK_NOT_ZERO, 3, 65, 1, KOB_OK},
      {66, "\1"sv, KOB_BANK_NOT_ZERO, 3, 66, 1, KOB_OK},
      {68, "\0\0\0\1"sv, KOB_BANK_NOT_ZERO, 3, 68, 0x1000000, KOB_OK},
      {72, "\2"sv, KOB_BANK_NOT_ZERO, 3, 72, 2, KOB_OK},
      {74, "\0\1"sv, KOB_BANK_NOT_ZERO, 3, 74, 256, KOB_OK},
      {18, "\1"sv, KOB_BANK_NOT_ZERO, 0, 18, 1, KOB_OK},
      {36, "\x70"sv, KOB_BANK_NOT_ZERO, 1, 36, 112, KOB_OK},
      {34, "\1"sv, KOB_BANK_SELF_SOURCE, 1, 34, 1, KOB_OK},
      {34, "\2"sv, KOB_BANK_LATER_SOURCE, 1, 34, 2, KOB_OK},
      {34, "\6"sv, KOB_BANK_MISSING_SOURCE, 1, 34, 6, KOB_OK},
      {34, "\xff\xff"sv, KOB_BANK_MISSING_SOURCE, 1, 34, 65535, KOB_OK},
      {82, "\3"sv, KOB_BANK_UNSTORED_SOURCE, 4, 82, 3, KOB_OK},
      {82, "\1"sv, KOB_BANK_UNSTORED_SOURCE, 4, 82, 1, KOB_OK},
      {40, "\1"sv, KOB_BANK_BAD_PLACE, 1, 40, 1, KOB_OK},
      {42, "\3"sv, KOB_BANK_BAD_PLACE, 1, 42, 3, KOB_OK},
      {32, "\2"sv, KOB_BANK_BAD_PLACE, 1, 40, 2, KOB_OK},  // the same sprite unmirrored stands at 1
      {88, "\3"sv, KOB_BANK_BAD_PLACE, 4, 88, 3, KOB_OK},
      {52, "\xa4"sv, KOB_BANK_SPRITE_PAST_END, 2, 52, 164, KOB_OK},
      {52, "\x8c\0\1"sv, KOB_BANK_SPRITE_PAST_END, 2, 52, 0x1008c, KOB_OK},
      {52, "\x8d"sv, KOB_BANK_MISPLACED_SPRITE, 2, 52, 141, KOB_OK},
      {20, "\x6f"sv, KOB_BANK_MISPLACED_SPRITE, 0, 20, 111, KOB_OK},
      {120, "\0\1"sv, KOB_BANK_BAD_SPRITE, 0, 120, 0, KOB_BAD_HEIGHT},
      {134, "\xff"sv, KOB_BANK_BAD_SPRITE, 0, 134, 0, KOB_SKIP_255},
      {158, "\3"sv, KOB_BANK_BAD_SPRITE, 2, 158, 0, KOB_ROWS_MISMATCH},
      {56, "\5"sv, KOB_BANK_TOO_WIDE, 2, 56, 6, KOB_OK},
      {58, "\4"sv, KOB_BANK_TOO_TALL, 2, 58, 5, KOB_OK},
      {10, "\4"sv, KOB_BANK_TOO_TALL, 2, 58, 4, KOB_OK},  // a cell too short for frame 2
      {164, "\0\0"sv, KOB_BANK_TRAILING_DATA, 5, 164, 2, KOB_OK},
  };
  for (const auto& [at, patch, code, frame, offset, value, sprite_code] : rows) {
    SCOPED_TRACE("patch at " + std::to_string(at));
    Bytes bytes = small_bank();
    bytes.resize(std::max(bytes.size(), at + patch.size()));
    std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<long>(at));
    kob_bank bank;
    kob_bank_fault fault;
    int opened = open_bank(bytes, bank, fault);
    EXPECT_EQ(std::make_tuple(opened, fault.code, fault.offset, fault.value, fault.sprite.code),
              std::make_tuple(code, code, offset, value, sprite_code));
    if (code >= KOB_BANK_SHORT_TABLE) {
      EXPECT_EQ(fault.frame, frame);
    }
  }
  // A stored sprite without an opaque pixel.
  const Bytes clear = join({bytes_of("KOB1VGAX"), {2, 0, 2, 0, 0, 0, 0, 0}, {0, 2, 0xff}, {0, 2, 0xff}});
  kob_bank bank;
  kob_bank_fault fault;
  EXPECT_EQ(open_bank(build_bank(2, 2, 1, {{1, 0, 0, 0, 0, 0, clear}}), bank, fault), KOB_BANK_EMPTY_SPRITE);
  EXPECT_EQ(fault.offset, 32u);
}

// The words for a fault: the frame, the problem, and the sprite checker's
// words for a broken sprite inside.
TEST(Bank, WordsTheProblem) {
  const std::vector<std::tuple<size_t, std::string_view, std::string_view>> rows = {
      {34, "\2"sv, "frame 1 refers to the later frame 2"},
      {134, "\xff"sv, "frame 0's sprite: strip 1: a skip of 255, over 254"},
      {52, "\xa4"sv, "frame 2's sprite at byte 164, past the end of the file"},
      {56, "\5"sv, "frame 2 reaches column 6, past its cell"},
  };
  for (const auto& [at, patch, words] : rows) {
    Bytes bytes = small_bank();
    std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<long>(at));
    kob_bank bank;
    kob_bank_fault fault;
    ASSERT_NE(open_bank(bytes, bank, fault), KOB_BANK_OK);
    char text[KOB_BANK_PROBLEM_SIZE];
    kob_bank_problem(&fault, text);
    EXPECT_EQ(text, words);
  }
}

}  // namespace

namespace {

// A sheet of 20 x 16 cells, four across, two down, 0 transparent.
constexpr uint32_t cell_width = 20, cell_height = 16, across = 4, down = 2;
constexpr uint32_t sheet_width = cell_width * across;

struct Sheet {
  Bytes pixels = Bytes(sheet_width * cell_height * down);
  uint8_t& at(unsigned cell, uint32_t column, uint32_t row) {
    return pixels[(cell / across * cell_height + row) * sheet_width + cell % across * cell_width + column];
  }
};

// How a test frame is stored: its own sprite, or an earlier frame's sprite
// plain or mirrored (the test paints the cell to match).
struct Share {
  int source = -1;
  bool mirrored = false;
};

// The bank of the sheet as the layout wants it: each cell trimmed to its
// opaque pixels, widened to 2 x 2 into the cell, shared where `shares` says.
Bytes bank_of(Sheet& sheet, const std::vector<Share>& shares,
              const std::vector<std::pair<int16_t, int16_t>>& hotspots) {
  std::vector<BankFrame> frames(across * down);
  for (unsigned cell = 0; cell < frames.size(); ++cell) {
    BankFrame& frame = frames[cell];
    std::tie(frame.hotspot_x, frame.hotspot_y) = hotspots[cell];
    if (shares[cell].source >= 0) {
      const BankFrame& source = frames[shares[cell].source];
      const uint32_t width = source.sprite[10];
      frame.kind = shares[cell].mirrored ? 3 : 2;
      frame.source = static_cast<uint16_t>(shares[cell].source);
      frame.left = shares[cell].mirrored ? static_cast<uint16_t>(cell_width - source.left - width) : source.left;
      frame.top = source.top;
      continue;
    }
    uint32_t left = cell_width, right = 0, top = cell_height, bottom = 0;
    for (uint32_t row = 0; row < cell_height; ++row) {
      for (uint32_t column = 0; column < cell_width; ++column) {
        if (!sheet.at(cell, column, row)) continue;
        left = std::min(left, column), right = std::max(right, column + 1);
        top = std::min(top, row), bottom = std::max(bottom, row + 1);
      }
    }
    if (right == 0) continue;
    if (right - left < 2) right < cell_width ? ++right : --left;
    if (bottom - top < 2) bottom < cell_height ? ++bottom : --top;
    Bytes trimmed;
    for (uint32_t row = top; row < bottom; ++row)
      for (uint32_t column = left; column < right; ++column) trimmed.push_back(sheet.at(cell, column, row));
    frame.kind = 1;
    frame.left = static_cast<uint16_t>(left);
    frame.top = static_cast<uint16_t>(top);
    frame.sprite = kob_of(trimmed, right - left, bottom - top);
  }
  return build_bank(cell_width, cell_height, across, frames);
}

// Random runs within the rectangle of a cell.
void paint(Sheet& sheet, unsigned cell, uint32_t left, uint32_t top, uint32_t width, uint32_t height, unsigned seed) {
  const Bytes runs = random_runs(width, height, seed);
  for (uint32_t row = 0; row < height; ++row)
    for (uint32_t column = 0; column < width; ++column)
      sheet.at(cell, left + column, top + row) = runs[row * width + column];
}

// Every frame of a bank made from a sheet, drawn plain and mirrored at
// positions that cut it on every edge of two clip rectangles, against the
// sheet's own pixels put where the hotspot says: each visible opaque pixel
// stored once, nothing else, at most 4 plane selects.
TEST(Bank, DrawsFramesByTheirHotspots) {
  Sheet sheet;
  paint(sheet, 0, 3, 2, 12, 11, 1);
  for (uint32_t row = 0; row < cell_height; ++row) {
    for (uint32_t column = 0; column < cell_width; ++column) {
      sheet.at(1, cell_width - 1 - column, row) = sheet.at(0, column, row);  // cell 0 mirrored
      sheet.at(2, column, row) = sheet.at(0, column, row);                   // cell 0 again
    }
  }
  paint(sheet, 4, 19, 3, 1, 9, 2);  // one column at the right edge: widened left
  paint(sheet, 5, 0, 0, cell_width, cell_height, 3);
  sheet.at(6, 19, 15) = 77;  // one pixel in the bottom-right corner
  paint(sheet, 7, 1, 5, 17, 2, 4);
  const std::vector<Share> shares = {{}, {0, true}, {0, false}, {}, {}, {}, {}, {}};
  const std::vector<std::pair<int16_t, int16_t>> hotspots = {{0, 0},  {10, 15}, {-5, 40}, {3, 3},
                                                             {19, 0}, {0, 16},  {9, 8},   {-300, -200}};
  const Bytes file = bank_of(sheet, shares, hotspots);
  kob_bank bank;
  kob_bank_fault fault;
  ASSERT_EQ(kob_bank_open(&bank, file.data(), file.size(), &fault), KOB_BANK_OK);
  ASSERT_EQ(bank.frames, across * down);
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, window = {19200, 80, 17, 9, 250, 201, 0};
  for (const kob_target& clip : {screen, window}) {
    for (unsigned n = 0; n < bank.frames; ++n) {
      std::vector<kob_size> strips(kob_bank_strips(&bank, n));
      kob_frame frame;
      ASSERT_EQ(kob_bank_frame(&bank, n, &frame, strips.data(), strips.size()), KOB_OK);
      const auto [hx, hy] = hotspots[n];
      for (int x : {clip.left - 12 + hx, clip.left + 3 + hx, 150, 151, 152, 153, clip.right - 4 + hx, clip.right + 9}) {
        for (int y : {clip.top - 9 + hy, clip.top + 2 + hy, 110, clip.bottom - 3 + hy, clip.bottom + 1}) {
          for (bool mirrored : {false, true}) {
            SCOPED_TRACE("frame " + std::to_string(n) + " at " + std::to_string(x) + "," + std::to_string(y) +
                         (mirrored ? ", mirrored" : ""));
            Bytes planes(sizeof vga.plane, 255);
            unsigned long visible = 0;
            for (long row = 0; row < long{cell_height}; ++row) {
              for (long column = 0; column < long{cell_width}; ++column) {
                long sx = mirrored ? x + hx - column : x - hx + column, sy = y - hy + row;
                uint8_t pixel = sheet.at(n, column, row);
                if (!pixel || sx < clip.left || sx >= clip.right || sy < clip.top || sy >= clip.bottom) continue;
                planes[sx % 4 * VGA_PLANE_SIZE + (clip.page + sy * clip.pitch + sx / 4) % VGA_PLANE_SIZE] = pixel;
                ++visible;
              }
            }
            kob_target target = clip;
            vga_model_reset(255);
            (mirrored ? kob_draw_frame_mirrored : kob_draw_frame)(&target, &frame, x, y);
            EXPECT_EQ(memcmp(vga.plane, planes.data(), planes.size()), 0);
            EXPECT_EQ(std::make_tuple(vga.stores, vga.overwrites), std::make_tuple(visible, 0ul));
            EXPECT_LE(vga.selects, 4ul);
          }
        }
      }
    }
  }
}

}  // namespace
