// Banks through the real executables: the frame table pcx2kob -bank makes of
// a sheet (trimming, merging, hotspots, marks), the stored sprites, the
// refusals, and kob2pcx painting banks back and listing them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "image.h"
#include "io.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "support.h"

namespace {

constexpr uint32_t cell_w = 8, cell_h = 6;

// A cell's opaque pixels: x, y, colour.
struct Dot {
  uint32_t x, y;
  uint8_t colour;
};
using Cell = std::vector<Dot>;

Cell mirrored(const Cell& cell) {
  Cell out;
  for (const Dot& d : cell) out.push_back({cell_w - 1 - d.x, d.y, d.colour});
  return out;
}

Cell shifted(const Cell& cell, uint32_t dx) {
  Cell out;
  for (const Dot& d : cell) out.push_back({d.x + dx, d.y, d.colour});
  return out;
}

// The cells side by side, one row, as a PCX file.
Bytes sheet_of(const std::vector<Cell>& cells) {
  const uint32_t width = cell_w * static_cast<uint32_t>(cells.size());
  Bytes pixels(size_t{width} * cell_h, 0);
  for (size_t i = 0; i < cells.size(); ++i) {
    for (const Dot& d : cells[i]) pixels[d.y * width + i * cell_w + d.x] = d.colour;
  }
  return build_pcx(pcx_of(pixels, width, cell_h, width));
}

// A frame table entry as the bank holds it.
struct Entry {
  uint32_t kind, source, left, top;
  int32_t hotspot_x = 0, hotspot_y = 0;
  bool operator==(const Entry& o) const {
    return kind == o.kind && source == o.source && left == o.left && top == o.top && hotspot_x == o.hotspot_x &&
           hotspot_y == o.hotspot_y;
  }
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << "{" << e.kind << " src " << e.source << " at " << e.left << "," << e.top << " hot " << e.hotspot_x << ","
            << e.hotspot_y << "}";
}

std::vector<Entry> entries_of(const Bytes& bank) {
  std::vector<Entry> entries;
  if (bank.size() < 16) return entries;
  const uint32_t frames = read_le16(&bank[14]);
  for (uint32_t n = 0; n < frames && 16 + 16 * (n + 1) <= bank.size(); ++n) {
    const uint8_t* e = &bank[16 + 16 * n];
    entries.push_back({e[0], read_le16(e + 2), read_le16(e + 8), read_le16(e + 10),
                       static_cast<int16_t>(read_le16(e + 12)), static_cast<int16_t>(read_le16(e + 14))});
  }
  return entries;
}

// Compiles the cells into a bank with the extra options; the bank's bytes,
// or none after a failure (reported through gtest).
Bytes bank_of(const std::vector<Cell>& cells, const std::vector<std::string>& extra = {}) {
  const std::string sheet = scratch_path("bank-sheet.pcx"), bank = scratch_path("sheet.bnk");
  write_bytes(sheet, sheet_of(cells));
  std::vector<std::string> args = {"-i", sheet, "-grid", "8x6", "-bank", bank};
  args.insert(args.end(), extra.begin(), extra.end());
  ToolRun run = run_tool(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err + run.out, "");
  return run.status == 0 ? read_bytes(bank) : Bytes();
}

const Cell walker = {{2, 1, 5}, {3, 1, 6}, {2, 2, 7}, {4, 3, 8}, {3, 4, 9}};

TEST(BankCompile, FramesAreTrimmedAndMerged) {
  struct Row {
    const char* name;
    std::vector<Cell> cells;
    std::vector<Entry> entries;
  };
  const Cell dot = {{3, 2, 4}};
  const std::vector<Row> rows = {
      {"identical frames share one sprite", {walker, walker}, {{1, 0, 2, 1}, {2, 0, 2, 1}}},
      {"a mirror image draws the first mirrored", {walker, mirrored(walker)}, {{1, 0, 2, 1}, {3, 0, 8 - 2 - 3, 1}}},
      {"the same pixels elsewhere are stored again", {walker, shifted(walker, 1)}, {{1, 0, 2, 1}, {1, 0, 3, 1}}},
      {"a symmetric frame is the same, not the mirror",
       {{{3, 0, 1}, {4, 0, 1}}, {{3, 0, 1}, {4, 0, 1}}},
       {{1, 0, 3, 0}, {2, 0, 3, 0}}},
      {"empty cells are empty frames", {{}, walker, {}}, {{0, 0, 0, 0}, {1, 0, 2, 1}, {0, 0, 0, 0}}},
      {"later frames share the stored one",
       {walker, walker, mirrored(walker)},
       {{1, 0, 2, 1}, {2, 0, 2, 1}, {3, 0, 3, 1}}},
      {"one pixel grows to 2 x 2 right and down", {dot}, {{1, 0, 3, 2}}},
      {"and left and up at the cell's edge", {{{7, 5, 4}}}, {{1, 0, 6, 4}}},
      {"a widened pixel's mirror shares it", {dot, mirrored(dot)}, {{1, 0, 3, 2}, {3, 0, 8 - 3 - 2, 2}}},
  };
  for (const Row& row : rows) {
    Bytes bank = bank_of(row.cells);
    EXPECT_EQ(entries_of(bank), row.entries) << row.name;
  }
}

// Every stored sprite is what pcx2kob makes of its rectangle cut out, and
// the file is the header, the table and the sprites back to back.
TEST(BankCompile, StoredSpritesAreTheTrimmedRectangles) {
  const Bytes bank = bank_of({walker, {}, mirrored(walker), {{0, 0, 3}, {7, 5, 3}}});
  ASSERT_EQ(bank.size() > 16 + 4 * 16, true);
  EXPECT_EQ(Bytes(bank.begin(), bank.begin() + 16), join({bytes_of("KOBBVGAX"), {8, 0, 6, 0, 4, 0, 4, 0}}));
  Bytes walker_box(3 * 4, 0);
  for (const Dot& d : walker) walker_box[(d.y - 1) * 3 + d.x - 2] = d.colour;
  Bytes corners(8 * 6, 0);
  corners[0] = corners[8 * 6 - 1] = 3;
  const Bytes expected = join({kob_of(walker_box, 3, 4), kob_of(corners, 8, 6)});
  EXPECT_EQ(read_le32(&bank[16 + 4]), 16u + 4 * 16);
  EXPECT_EQ(read_le32(&bank[16 + 3 * 16 + 4]), 16u + 4 * 16 + kob_of(walker_box, 3, 4).size());
  EXPECT_EQ(Bytes(bank.begin() + 16 + 4 * 16, bank.end()), expected);
}

TEST(BankCompile, HotspotsAndMarks) {
  struct Row {
    const char* name;
    std::vector<Cell> cells;
    std::vector<std::string> options;
    std::vector<Entry> entries;
  };
  const Cell marked = {{2, 1, 5}, {3, 1, 6}, {5, 5, 12}};
  const std::vector<Row> rows = {
      {"the cell's corner by default", {walker, {}}, {}, {{1, 0, 2, 1, 0, 0}, {0, 0, 0, 0, 0, 0}}},
      {"-hotspot for every frame, outside the cell too",
       {walker, walker},
       {"-hotspot", "-5,40"},
       {{1, 0, 2, 1, -5, 40}, {2, 0, 2, 1, -5, 40}}},
      {"-hotspot at its limits", {walker}, {"-hotspot", "32767,-32768"}, {{1, 0, 2, 1, 32767, -32768}}},
      {"the mark is the hotspot and transparent", {marked}, {"-mark", "12"}, {{1, 0, 2, 1, 5, 5}}},
      {"a cell without the mark takes -hotspot",
       {marked, walker},
       {"-mark", "12", "-hotspot", "4,6"},
       {{1, 0, 2, 1, 5, 5}, {1, 0, 2, 1, 4, 6}}},
      {"a cell holding only the mark is empty", {{{6, 0, 12}}}, {"-mark", "12"}, {{0, 0, 0, 0, 6, 0}}},
      {"marks apart, pixels shared", {marked, marked}, {"-mark", "12"}, {{1, 0, 2, 1, 5, 5}, {2, 0, 2, 1, 5, 5}}},
  };
  for (const Row& row : rows) {
    Bytes bank = bank_of(row.cells, row.options);
    EXPECT_EQ(entries_of(bank), row.entries) << row.name;
  }
}

TEST(BankCompile, RefusalsWriteNothing) {
  const std::string sheet = scratch_path("refused.pcx"), bank = scratch_path("refused.bnk");
  const std::string palette = scratch_path("refused.pal"), kept = scratch_path("kept.bnk");
  const std::string cells = scratch_path("refused%d.kob");
  const Cell twice = {{1, 1, 9}, {6, 4, 9}};
  write_bytes(sheet, sheet_of({walker, twice}));
  write_bytes(kept, bytes_of("earlier bank"));
  Bytes crowded = build_pcx(pcx_of(Bytes(8192 * 6, 0), 8192, 6, 8192));
  const std::string crowded_path = scratch_path("crowded.pcx");
  write_bytes(crowded_path, crowded);
  struct Row {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Row> rows = {
      {{"-o", cells, "-bank", bank}, "Give either -o or -bank, not both\n"},
      {{"-o", cells, "-hotspot", "1,2"}, "-hotspot needs -bank\n"},
      {{"-o", cells, "-mark", "3"}, "-mark needs -bank\n"},
      {{"-bank", bank, "-hotspot", "1"}, "Bad hotspot '1': give it as <x>,<y>, each -32768 to 32767\n"},
      {{"-bank", bank, "-hotspot", "32768,0"}, "Bad hotspot '32768,0': give it as <x>,<y>, each -32768 to 32767\n"},
      {{"-bank", bank, "-hotspot", "0,-32769"}, "Bad hotspot '0,-32769': give it as <x>,<y>, each -32768 to 32767\n"},
      {{"-bank", bank, "-hotspot", "1,2,3"}, "Bad hotspot '1,2,3': give it as <x>,<y>, each -32768 to 32767\n"},
      {{"-bank", bank, "-hotspot", "+1,2"}, "Bad hotspot '+1,2': give it as <x>,<y>, each -32768 to 32767\n"},
      {{"-bank", bank, "-mark", "256"}, "Bad mark '256': give a palette index, 0 to 255\n"},
      {{"-bank", bank, "-mark", "-1"}, "Bad mark '-1': give a palette index, 0 to 255\n"},
      {{"-bank", bank, "-mark", ""}, "Bad mark '': give a palette index, 0 to 255\n"},
      {{"-bank", bank, "-mark", "0"}, "Mark 0 is the transparent index\n"},
      {{"-bank", bank, "-mark", "9"}, "Cell 1 holds mark 9 more than once: at 1,1 and at 6,4\n"},
      {{"-bank", bank, "-mark", "9", "-grid", "16x6"}, "Cell 0 holds mark 9 more than once: at 9,1 and at 3,4\n"},
      {{"-bank", sheet}, "Output '" + sheet + "' is the same file as '" + sheet + "'\n"},
      {{"-bank", palette, "-p", palette}, "Output '" + palette + "' is the same file as '" + palette + "'\n"},
      {{"-bank", kept, "-mark", "9"}, "Cell 1 holds mark 9 more than once: at 1,1 and at 6,4\n"},
      {{"-bank", bank, "-grid", "5x6"}, "PCX sheet is 16 x 6, which does not fit a whole number of 5 x 6 cells\n"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"-i", sheet, "-grid", "8x6", "-p", palette};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 1) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_FALSE(file_exists(bank)) << row.err;
    EXPECT_FALSE(file_exists(scratch_path("refused0.kob"))) << row.err;
    EXPECT_FALSE(file_exists(palette)) << row.err;
    EXPECT_EQ(read_bytes(kept), bytes_of("earlier bank")) << row.err;
  }
  ToolRun run = run_tool({"-i", crowded_path, "-grid", "2x2", "-bank", bank});
  EXPECT_EQ(run.err, "Sheet has 12288 cells, more than the 8192 frames of a bank\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(file_exists(bank));
}

// kob2pcx on banks.

ToolRun run_kob2pcx(const std::vector<std::string>& args) {
  RunOptions options;
  options.exe = KOB2PCX_EXE;
  return run_tool(args, options);
}

// An image file's pixels, rows of its width, and its size.
struct Pixels {
  uint32_t width = 0, height = 0;
  Bytes rows;
  uint8_t transparent = 0;
};

Pixels pixels_of(const std::string& path) {
  Pixels image;
  release_image();
  if (!(input_is_png(path.c_str()) ? read_src_png(path.c_str()) : load_pcx(read_bytes(path)) && decode_src_pcx())) {
    return image;
  }
  image.width = src_image.width;
  image.height = src_image.height;
  image.transparent = src_image.transparent;
  for (uint32_t y = 0; y < src_image.height; ++y) {
    const uint8_t* row = src_image.pixels + y * src_image.stride;
    image.rows.insert(image.rows.end(), row, row + src_image.width);
  }
  release_image();
  return image;
}

// What a bank of the sheet paints back: the mark's pixels and each cell's
// 256th row transparent.
Bytes expected_back(Pixels sheet, uint32_t cell_height, int mark) {
  for (uint32_t y = 0; y < sheet.height; ++y) {
    for (uint32_t x = 0; x < sheet.width; ++x) {
      uint8_t& pixel = sheet.rows[y * sheet.width + x];
      if (pixel == mark || y % cell_height == 255) pixel = sheet.transparent;
    }
  }
  return sheet.rows;
}

TEST(BankRead, SheetsComeBackPixelForPixel) {
  const std::string shapes = scratch_path("shapes.pcx"), tall = scratch_path("tall.pcx");
  write_bytes(shapes, sheet_of({walker, mirrored(walker), {}, shifted(walker, 2), walker, {{7, 5, 200}}}));
  Bytes tall_pixels = random_runs(6, 512, 19);
  write_bytes(tall, build_pcx(pcx_of(tall_pixels, 6, 512, 6)));
  const std::string marked = scratch_path("marked.pcx");
  write_bytes(marked, sheet_of({{{2, 1, 5}, {3, 1, 6}, {5, 5, 12}}, {{1, 1, 12}}, walker}));
  struct Row {
    std::string sheet;
    std::vector<std::string> options;
    uint32_t cell_height;
    int mark;
    int tc = -1;
  };
  const std::vector<Row> rows = {
      {std::string(EXAMPLES_DIR) + "/slime-sheet.pcx", {"-grid", "24x20"}, 20, -1},
      {std::string(EXAMPLES_DIR) + "/slime.pcx", {}, 256, -1},
      {shapes, {"-grid", "8x6"}, 6, -1},
      {shapes, {"-grid", "2x2", "-tc", "5"}, 2, -1, 5},
      {tall, {"-grid", "3x256"}, 256, -1},
      {marked, {"-grid", "8x6", "-mark", "12"}, 6, 12},
      {std::string(TEST_DATA_DIR) + "/png/pillow-transparent-24x16.png", {"-grid", "8x8"}, 8, -1},
  };
  const std::string bank = scratch_path("back.bnk"), back = scratch_path("back.pcx");
  for (const Row& row : rows) {
    if (!png_decoder_built && row.sheet.ends_with(".png")) continue;
    std::vector<std::string> args = {"-i", row.sheet, "-bank", bank};
    args.insert(args.end(), row.options.begin(), row.options.end());
    ToolRun run = run_tool(args);
    ASSERT_EQ(run.status, 0) << row.sheet << ": " << run.err;
    Pixels sheet = pixels_of(row.sheet);
    if (row.tc >= 0) sheet.transparent = static_cast<uint8_t>(row.tc);
    run = run_kob2pcx({"-i", bank, "-o", back, "-tc", std::to_string(sheet.transparent)});
    ASSERT_EQ(run.status, 0) << row.sheet << ": " << run.err;
    Pixels painted = pixels_of(back);
    EXPECT_EQ(std::make_pair(painted.width, painted.height), std::make_pair(sheet.width, sheet.height)) << row.sheet;
    EXPECT_EQ(painted.rows, expected_back(sheet, row.cell_height, row.mark)) << row.sheet;
  }
}

// -frame n paints the frame alone: the cell cut out of the sheet.
TEST(BankRead, EachFrameAlone) {
  const std::string sheet = std::string(EXAMPLES_DIR) + "/slime-sheet.pcx", bank = scratch_path("frames.bnk");
  ASSERT_EQ(run_tool({"-i", sheet, "-grid", "24x20", "-bank", bank}).status, 0);
  const Pixels whole = pixels_of(sheet);
  const std::string cell = scratch_path("cell.pcx");
  for (uint32_t n = 0; n < 16; ++n) {
    ToolRun run = run_kob2pcx({"-i", bank, "-frame", std::to_string(n), "-o", cell});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes expected;
    for (uint32_t y = 0; y < 20; ++y) {
      const auto row = whole.rows.begin() + (n / 8 * 20 + y) * whole.width + n % 8 * 24;
      expected.insert(expected.end(), row, row + 24);
    }
    EXPECT_EQ(pixels_of(cell).rows, expected) << "frame " << n;
  }
  for (const char* number : {"16", "-1", "x", "", "3x", "99999999999"}) {
    std::remove(cell.c_str());
    ToolRun run = run_kob2pcx({"-i", bank, "-frame", number, "-o", cell});
    EXPECT_EQ(run.status, 1) << number;
    EXPECT_EQ(run.err,
              "Frame '" + std::string(number) + "' is not in bank file '" + bank + "': give a number from 0 to 15\n");
    EXPECT_FALSE(file_exists(cell)) << number;
  }
}

TEST(BankRead, ListsFrames) {
  const std::string sheet = scratch_path("listed.pcx"), bank = scratch_path("listed.bnk");
  write_bytes(sheet, sheet_of({walker, {}, mirrored(walker), walker, {{6, 0, 12}, {1, 1, 3}}}));
  ASSERT_EQ(run_tool({"-i", sheet, "-grid", "8x6", "-bank", bank, "-mark", "12", "-hotspot", "-3,7"}).status, 0);
  const Bytes file = read_bytes(bank);
  const uint32_t first = read_le32(&file[16 + 4]), second = read_le32(&file[16 + 4 * 16 + 4]);
  ToolRun run = run_kob2pcx({"-i", bank, "-list"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "0 3x4 2,1 -3,7 stored " + std::to_string(second - first) +
                         "\n"
                         "1 0x0 0,0 -3,7 empty\n"
                         "2 3x4 3,1 -3,7 mirrored 0\n"
                         "3 3x4 2,1 -3,7 same 0\n"
                         "4 2x2 1,1 6,0 stored " +
                         std::to_string(file.size() - second) + "\n");
  run = run_kob2pcx({"-i", std::string(TEST_DATA_DIR) + "/slime.kob", "-list"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "'" + std::string(TEST_DATA_DIR) + "/slime.kob' is not a bank: -frame and -list read banks\n");
}

// Every cut of a bank is refused with one line, and no image is written.
TEST(BankRead, CutBanksAreRefused) {
  const std::string sheet = scratch_path("cut.pcx"), bank = scratch_path("whole.bnk");
  write_bytes(sheet, sheet_of({walker, mirrored(walker), {{1, 1, 3}}}));
  ASSERT_EQ(run_tool({"-i", sheet, "-grid", "8x6", "-bank", bank}).status, 0);
  const Bytes whole = read_bytes(bank);
  const std::string cut = scratch_path("cut.bnk"), image = scratch_path("cut-back.pcx");
  for (size_t length = 8; length < whole.size(); ++length) {
    write_bytes(cut, Bytes(whole.begin(), whole.begin() + length));
    ToolRun run = run_kob2pcx({"-i", cut, "-o", image});
    EXPECT_EQ(run.status, 1) << length;
    EXPECT_EQ(run.err.rfind("Bad bank file '" + cut + "': ", 0), 0u) << length << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << length;
    EXPECT_FALSE(file_exists(image)) << length;
  }
}

}  // namespace
