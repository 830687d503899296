// Sprite sheets through the real executable: every cell's sprite is the one
// its pixels give as an image of their own; the output names; and what is
// refused before any file is written.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "png_writer.h"
#include "support.h"

namespace {

// The names in a directory made fresh for one row.
std::string fresh_dir(const std::string& name) {
  std::string dir = scratch_path(name);
  EXPECT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
  return dir;
}
std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  while (dirent* entry = listing ? readdir(listing) : nullptr) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  if (listing) closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// Seeded pixels, half transparent, with cell 0 left empty.
TEST(Sheet, CellsAreTheSpritesOfTheirCutOutImages) {
  struct Row {
    bool png;
    uint32_t columns, rows, cell_width, cell_height, padding;  // padding: PCX bytes per line beyond the width
    std::vector<std::string> tc_args;
  };
  const std::vector<Row> rows = {
      {true, 3, 2, 13, 7, 0, {}},           {true, 1, 1, 40, 30, 0, {}},  {true, 2, 3, 6, 5, 0, {"-tc", "0x21"}},
      {false, 2, 1, 511, 4, 0, {}},         {false, 2, 2, 3, 256, 0, {}}, {false, 3, 2, 5, 3, 1, {}},
      {false, 1, 4, 8, 2, 0, {"-tc", "7"}},
  };
  std::mt19937 rng(10);
  for (const Row& row : rows) {
    std::string dir = fresh_dir("sheet-" + std::to_string(&row - rows.data()));
    uint32_t width = row.columns * row.cell_width, height = row.rows * row.cell_height;
    uint32_t stride = width + row.padding;
    Bytes pixels(stride * height);
    uint8_t value = 0;
    for (uint8_t& pixel : pixels) pixel = value = rng() % 4 ? value : rng() % 2 ? 0 : static_cast<uint8_t>(rng());
    for (uint32_t y = 0; y < row.cell_height; ++y) std::fill_n(pixels.begin() + y * stride, row.cell_width, 0);
    std::string sheet = dir + "/sheet";
    write_bytes(sheet, row.png ? build_png(png_of(width, height, pixels, test_palette()))
                               : build_pcx(pcx_of(pixels, width, height, stride)));
    std::vector<std::string> args = {"-i",    sheet,
                                     "-o",    dir + "/cell%03d.kob",
                                     "-p",    dir + "/sheet.pal",
                                     "-grid", std::to_string(row.cell_width) + "x" + std::to_string(row.cell_height)};
    args.insert(args.end(), row.tc_args.begin(), row.tc_args.end());
    ToolRun run = run_tool(args);
    ASSERT_EQ(run.err, "") << dir;
    EXPECT_EQ(read_bytes(dir + "/sheet.pal"), test_palette()) << dir;
    uint32_t cells = row.columns * row.rows;
    ASSERT_EQ(files_in(dir).size(), cells + 2) << dir;
    for (uint32_t cell = 0; cell < cells; ++cell) {
      Bytes cut;
      for (uint32_t y = cell / row.columns * row.cell_height, n = 0; n < row.cell_height; ++y, ++n) {
        auto start = pixels.begin() + y * stride + cell % row.columns * row.cell_width;
        cut.insert(cut.end(), start, start + row.cell_width);
      }
      write_bytes(dir + "/single", build_pcx(pcx_of(cut, row.cell_width, row.cell_height, row.cell_width)));
      std::vector<std::string> single = {"-i", dir + "/single", "-o", dir + "/single.kob"};
      single.insert(single.end(), row.tc_args.begin(), row.tc_args.end());
      ASSERT_EQ(run_tool(single).status, 0);
      char name[32];
      snprintf(name, sizeof name, "/cell%03u.kob", cell);
      EXPECT_EQ(read_bytes(dir + name), read_bytes(dir + "/single.kob")) << dir << name;
    }
  }
}

// Each row runs on a sheet of two 2 x 2 cells unless it names its own input;
// the directory then holds the files listed, or nothing but after the one
// line of a refusal.
TEST(Sheet, NamesAndRefusals) {
  std::string pcx = scratch_path("two-cells.pcx");
  write_bytes(pcx, build_pcx(pcx_of(Bytes(8, 1), 4, 2, 4)));
  std::string wide_pcx = scratch_path("wide.pcx");
  write_bytes(wide_pcx, build_pcx(pcx_of(Bytes(1024 * 6, 1), 1024, 6, 1024)));
  Pcx huge;  // 8193 x 2, no data
  huge.xmax = 8192, huge.stride = 8194;
  std::string huge_pcx = scratch_path("huge.pcx");
  write_bytes(huge_pcx, build_pcx(huge));
  std::string wide_png = scratch_path("wide.png");
  write_bytes(wide_png, build_png(png_of(8192, 4, Bytes(8192 * 4, 1), Bytes(6, 0))));
  const std::string bad_grid = "': give the cell size as <width>x<height>, for instance 32x48\n";
  const std::string range = " is out of range: a cell is 2 to 511 pixels wide and 2 to 256 high\n";
  const std::string name = "' must hold the cell number as one %d (or %02d and the like) with -grid\n";
  const std::string zeros(98, '0');
  struct Row {
    std::string pattern, grid, input;
    std::vector<std::string> files;  // besides the palette; empty when refused
    std::string err;
  };
  const std::vector<Row> rows = {
      {"c%d.kob", "2x2", pcx, {"c0.kob", "c1.kob"}, ""},
      {"c%02d.kob", "2x2", pcx, {"c00.kob", "c01.kob"}, ""},
      {"c%0d.kob", "2x2", pcx, {"c0.kob", "c1.kob"}, ""},
      {"c%3d", "2x2", pcx, {"c  0", "c  1"}, ""},
      {"%%c%d%%", "2x2", pcx, {"%c0%", "%c1%"}, ""},
      {"c%%%d", "2x2", pcx, {"c%0", "c%1"}, ""},
      {"c%099d", "2x2", pcx, {"c" + zeros + "0", "c" + zeros + "1"}, ""},
      {"c%d", "4x2", pcx, {"c0"}, ""},
      {"c%d", "256x2", wide_pcx, std::vector<std::string>(12), ""},
      {"c%d", "256x4", wide_png, std::vector<std::string>(32), ""},
      {"c%d", "", wide_pcx, {}, "PCX too big\n"},
      {"c%d", "", wide_png, {}, "PNG is 8192 x 4, larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n"},
      {"c%d", "300x2", wide_pcx, {}, "PCX sheet is 1024 x 6, which does not fit a whole number of 300 x 2 cells\n"},
      {"c%d", "256x4", wide_pcx, {}, "PCX sheet is 1024 x 6, which does not fit a whole number of 256 x 4 cells\n"},
      {"c%d", "3x2", huge_pcx, {}, "PCX sheet is 8193 x 2, larger than 8192 x 8192\n"},
      {"c%d", "3x3", wide_png, {}, "PNG sheet is 8192 x 4, which does not fit a whole number of 3 x 3 cells\n"},
      {"c%d", "32X48", pcx, {}, "Bad grid '32X48" + bad_grid},
      {"c%d", "32x", pcx, {}, "Bad grid '32x" + bad_grid},
      {"c%d", "x48", pcx, {}, "Bad grid 'x48" + bad_grid},
      {"c%d", "32", pcx, {}, "Bad grid '32" + bad_grid},
      {"c%d", "32x48x2", pcx, {}, "Bad grid '32x48x2" + bad_grid},
      {"c%d", "+32x48", pcx, {}, "Bad grid '+32x48" + bad_grid},
      {"c%d", "32x48 ", pcx, {}, "Bad grid '32x48 " + bad_grid},
      {"c%d", "1x2", pcx, {}, "Grid cell 1x2" + range},
      {"c%d", "512x2", pcx, {}, "Grid cell 512x2" + range},
      {"c%d", "2x257", pcx, {}, "Grid cell 2x257" + range},
      {"c%d", "99999999999999999999x2", pcx, {}, "Grid cell 99999999999999999999x2" + range},
  };
  const char* const refused_names[] = {"c.kob", "c%%d.kob", "c%d%d.kob", "c%d-%02d", "c%s.kob", "c%x.kob",
                                       "c%u",   "c%ld",     "c%-2d",     "c%+d",     "c% d",    "c%.2d",
                                       "c%*d",  "c%100d",   "c%",        "c%d%",     ""};
  std::vector<Row> all = rows;
  for (const char* refused : refused_names) all.push_back({refused, "2x2", pcx, {}, name});
  for (const Row& row : all) {
    std::string dir = fresh_dir("names-" + std::to_string(&row - all.data()));
    std::vector<std::string> args = {"-i", row.input, "-o", dir + "/" + row.pattern, "-p", dir + "/sheet.pal"};
    if (!row.grid.empty()) args.insert(args.end(), {"-grid", row.grid});
    ToolRun run = run_tool(args);
    std::string err = row.err == name ? "Output name '" + dir + "/" + row.pattern + name : row.err;
    EXPECT_EQ(run.err, err) << row.pattern << " " << row.grid;
    std::vector<std::string> files = files_in(dir);
    if (row.files.empty() || row.files[0].empty()) {
      EXPECT_EQ(files.size(), row.files.size() + !row.files.empty()) << row.pattern << " " << row.grid;
      continue;
    }
    std::vector<std::string> expected = row.files;
    expected.push_back("sheet.pal");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected) << row.pattern;
  }
}

}  // namespace
