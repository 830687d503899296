// Sprite sheets through the real executable: every cell's sprite is the one
// its pixels give as an image of their own; the output names; the grid and
// sheet checks, which leave nothing on disk.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "png_writer.h"
#include "support.h"

namespace {

// A fresh, empty directory for one row.
std::string fresh_dir(const std::string& name) {
  std::string dir = scratch_path(name);
  EXPECT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
  return dir;
}

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  if (!listing) return names;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// Pixels of `stride` x `height`, mostly transparent 0 and short runs, with
// one cell-sized corner left all transparent (an empty cell).
Bytes sheet_pixels(std::mt19937& rng, uint32_t stride, uint32_t height, uint32_t cell_width, uint32_t cell_height) {
  Bytes pixels(static_cast<size_t>(stride) * height);
  uint8_t value = 0;
  for (uint8_t& pixel : pixels) {
    if (rng() % 4 == 0) value = rng() % 2 ? 0 : static_cast<uint8_t>(rng());
    pixel = value;
  }
  for (uint32_t y = 0; y < cell_height; ++y) std::fill_n(pixels.begin() + y * stride, cell_width, 0);
  return pixels;
}

Bytes cut_cell(const Bytes& pixels, uint32_t stride, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
  Bytes cell;
  for (uint32_t y = y0; y < y0 + height; ++y) {
    auto row = pixels.begin() + static_cast<long>(y) * stride + x0;
    cell.insert(cell.end(), row, row + width);
  }
  return cell;
}

TEST(Sheet, CellsAreTheSpritesOfTheirCutOutImages) {
  struct Row {
    const char* name;
    bool png;
    uint32_t columns, rows, cell_width, cell_height;
    std::vector<std::string> tc_args;
    uint32_t padding = 0;  // PCX bytes per line beyond the width
  };
  const std::vector<Row> rows = {
      {"PNG 3 x 2 cells", true, 3, 2, 13, 7, {}},
      {"PNG one cell", true, 1, 1, 40, 30, {}},
      {"PNG, -tc applies to every cell", true, 2, 3, 6, 5, {"-tc", "0x21"}},
      {"PCX wider than a sprite", false, 2, 1, 511, 4, {}},
      {"PCX of 256-row cells", false, 2, 2, 3, 256, {}},
      {"PCX with padded lines", false, 3, 2, 5, 3, {}, 1},
      {"PCX column of cells", false, 1, 4, 8, 2, {"-tc", "7"}},
  };
  std::mt19937 rng(10);
  for (const Row& row : rows) {
    std::string dir = fresh_dir(std::string("sheet-") + std::to_string(&row - rows.data()));
    uint32_t width = row.columns * row.cell_width, height = row.rows * row.cell_height;
    uint32_t stride = width + row.padding;
    Bytes pixels = sheet_pixels(rng, stride, height, row.cell_width, row.cell_height);
    std::string sheet = dir + (row.png ? "/sheet.png" : "/sheet.pcx");
    Png png;
    png.width = width;
    png.height = height;
    png.pixels = pixels;
    png.palette = png_palette(256);
    write_bytes(sheet, row.png ? build_png(png) : build_pcx(pcx_of(pixels, width, height, stride)));
    std::vector<std::string> args = {"-i",    sheet,
                                     "-o",    dir + "/cell%03d.kob",
                                     "-p",    dir + "/sheet.pal",
                                     "-grid", std::to_string(row.cell_width) + "x" + std::to_string(row.cell_height)};
    args.insert(args.end(), row.tc_args.begin(), row.tc_args.end());
    ToolRun run = run_tool(args);
    ASSERT_EQ(run.status, 0) << row.name << ": " << run.err;
    EXPECT_EQ(read_bytes(dir + "/sheet.pal"), test_palette()) << row.name;
    uint32_t cells = row.columns * row.rows;
    EXPECT_EQ(files_in(dir).size(), cells + 2) << row.name;
    std::string single = dir + "/single.pcx", single_kob = dir + "/single.kob";
    for (uint32_t cell = 0; cell < cells; ++cell) {
      uint32_t x0 = cell % row.columns * row.cell_width, y0 = cell / row.columns * row.cell_height;
      Bytes pixels_of_cell = cut_cell(pixels, stride, x0, y0, row.cell_width, row.cell_height);
      write_bytes(single, build_pcx(pcx_of(pixels_of_cell, row.cell_width, row.cell_height, row.cell_width)));
      std::vector<std::string> single_args = {"-i", single, "-o", single_kob};
      single_args.insert(single_args.end(), row.tc_args.begin(), row.tc_args.end());
      ASSERT_EQ(run_tool(single_args).status, 0) << row.name;
      char name[32];
      snprintf(name, sizeof name, "/cell%03u.kob", cell);
      EXPECT_EQ(read_bytes(dir + name), read_bytes(single_kob)) << row.name << ", cell " << cell;
    }
  }
}

// Two cells, and the names they get; a refused name leaves the directory
// empty, palette included.
TEST(Sheet, OutputNames) {
  struct Row {
    std::string pattern;
    std::vector<std::string> names;  // empty when refused
  };
  const std::vector<Row> rows = {
      {"c%d.kob", {"c0.kob", "c1.kob"}},
      {"c%02d.kob", {"c00.kob", "c01.kob"}},
      {"c%0d.kob", {"c0.kob", "c1.kob"}},
      {"c%3d", {"c  0", "c  1"}},
      {"%d", {"0", "1"}},
      {"%%c%d%%", {"%c0%", "%c1%"}},
      {"c%%%d", {"c%0", "c%1"}},
      {"c%099d", {std::string("c") + std::string(98, '0') + "0", std::string("c") + std::string(98, '0') + "1"}},
      {"c.kob", {}},
      {"c%%d.kob", {}},
      {"c%d%d.kob", {}},
      {"c%d-%02d.kob", {}},
      {"c%s.kob", {}},
      {"c%x.kob", {}},
      {"c%u.kob", {}},
      {"c%ld.kob", {}},
      {"c%-2d.kob", {}},
      {"c%+d.kob", {}},
      {"c% d.kob", {}},
      {"c%.2d.kob", {}},
      {"c%*d.kob", {}},
      {"c%100d.kob", {}},
      {"c%", {}},
      {"c%d%", {}},
      {"", {}},
  };
  std::string sheet = scratch_path("names.pcx");
  write_bytes(sheet, build_pcx(pcx_of(Bytes(8, 1), 4, 2, 4)));
  for (const Row& row : rows) {
    std::string dir = fresh_dir("names-" + std::to_string(&row - rows.data()));
    ToolRun run = run_tool({"-i", sheet, "-o", dir + "/" + row.pattern, "-p", dir + "/sheet.pal", "-grid", "2x2"});
    std::vector<std::string> expected = row.names;
    if (expected.empty()) {
      EXPECT_EQ(run.status, 1) << row.pattern;
      EXPECT_EQ(run.err, "Output name '" + dir + "/" + row.pattern +
                             "' must hold the cell number as one %d (or %02d and the like) with -grid\n")
          << row.pattern;
    } else {
      EXPECT_EQ(run.status, 0) << row.pattern << ": " << run.err;
      expected.push_back("sheet.pal");
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(files_in(dir), expected) << row.pattern;
  }
}

// The grid, and a sheet that does not fit it, are refused before any file is
// written; without -grid the single-image limits are today's.
TEST(Sheet, GridAndSizeChecks) {
  std::string png_sheet = scratch_path("checks.png");
  Png png;
  png.width = 8192;
  png.height = 4;
  png.pixels = Bytes(8192 * 4, 1);
  png.palette = png_palette(2);
  write_bytes(png_sheet, build_png(png));
  std::string pcx_sheet = scratch_path("checks.pcx");
  write_bytes(pcx_sheet, build_pcx(pcx_of(Bytes(1024 * 6, 1), 1024, 6, 1024)));
  Pcx huge;
  huge.xmax = 8192;  // 8193 wide
  huge.ymax = 1;
  huge.stride = 8194;
  std::string huge_sheet = scratch_path("huge.pcx");
  write_bytes(huge_sheet, build_pcx(huge));
  const std::string bad_grid = "': give the cell size as <width>x<height>, for instance 32x48\n";
  const std::string cell_range = " is out of range: a cell is 2 to 511 pixels wide and 2 to 256 high\n";
  struct Row {
    std::string input, grid;
    int status;
    std::string err;
    size_t files;  // sprites and palette written
  };
  const std::vector<Row> rows = {
      {pcx_sheet, "256x2", 0, "", 13},
      {pcx_sheet, "256x3", 0, "", 9},
      {png_sheet, "256x4", 0, "", 33},
      {pcx_sheet, "", 1, "PCX too big\n", 0},
      {png_sheet, "", 1, "PNG is 8192 x 4, larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n", 0},
      {pcx_sheet, "300x2", 1, "PCX sheet is 1024 x 6, which does not fit a whole number of 300 x 2 cells\n", 0},
      {pcx_sheet, "256x4", 1, "PCX sheet is 1024 x 6, which does not fit a whole number of 256 x 4 cells\n", 0},
      {huge_sheet, "3x2", 1, "PCX sheet is 8193 x 2, larger than 8192 x 8192\n", 0},
      {pcx_sheet, "32X48", 1, "Bad grid '32X48" + bad_grid, 0},
      {pcx_sheet, "32x", 1, "Bad grid '32x" + bad_grid, 0},
      {pcx_sheet, "x48", 1, "Bad grid 'x48" + bad_grid, 0},
      {pcx_sheet, "32", 1, "Bad grid '32" + bad_grid, 0},
      {pcx_sheet, "32x48x2", 1, "Bad grid '32x48x2" + bad_grid, 0},
      {pcx_sheet, " 32x48", 1, "Bad grid ' 32x48" + bad_grid, 0},
      {pcx_sheet, "+32x48", 1, "Bad grid '+32x48" + bad_grid, 0},
      {pcx_sheet, "32x48 ", 1, "Bad grid '32x48 " + bad_grid, 0},
      {pcx_sheet, "0x2", 1, "Grid cell 0x2" + cell_range, 0},
      {pcx_sheet, "1x2", 1, "Grid cell 1x2" + cell_range, 0},
      {pcx_sheet, "512x2", 1, "Grid cell 512x2" + cell_range, 0},
      {pcx_sheet, "2x257", 1, "Grid cell 2x257" + cell_range, 0},
      {pcx_sheet, "99999999999999999999x2", 1, "Grid cell 99999999999999999999x2" + cell_range, 0},
  };
  for (const Row& row : rows) {
    std::string dir = fresh_dir("checks-" + std::to_string(&row - rows.data()));
    std::vector<std::string> args = {"-i", row.input, "-o", dir + "/c%d.kob", "-p", dir + "/sheet.pal"};
    if (!row.grid.empty()) args.insert(args.end(), {"-grid", row.grid});
    ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, row.status) << row.grid << ": " << run.err;
    EXPECT_EQ(run.err, row.err) << row.grid;
    EXPECT_EQ(files_in(dir).size(), row.files) << row.grid;
  }
}

}  // namespace
