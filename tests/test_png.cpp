// Indexed PNG input: the sprite and palette of a PCX of the same pixels,
// files from third-party tools, tRNS, and every refused PNG, which leaves
// nothing on disk.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <random>

#include "pcx/pcx.h"
#include "png/png.h"
#include "png_writer.h"
#include "support.h"

namespace {

// Seeded indices at every depth, interlaced and not: palette entries 0 and 1
// are one colour, and indices go beyond PLTE's last entry.
TEST(Png, SameSpriteAndPaletteAsPcx) {
  const uint32_t sizes[][2] = {{2, 2}, {3, 5}, {9, 9}, {37, 23}, {511, 3}, {5, 256}};
  std::mt19937 rng(2026);
  std::string png_in = scratch_path("same.png"), pcx_in = scratch_path("same.pcx"), pal = scratch_path("same.pal");
  std::string png_kob = scratch_path("same-png.kob"), pcx_kob = scratch_path("same-pcx.kob");
  for (uint8_t depth : {1, 2, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (const auto& size : sizes) {
        std::string what = std::to_string(depth) + (interlaced ? " bits interlaced " : " bits ") +
                           std::to_string(size[0]) + "x" + std::to_string(size[1]);
        Png png = png_of(size[0], size[1], Bytes(size[0] * size[1]), test_palette());
        png.depth = depth;
        png.interlaced = interlaced;
        uint8_t value = 0;  // in short runs, for runs, literals and skips
        for (uint8_t& pixel : png.pixels)
          pixel = value = rng() % 3 ? value : static_cast<uint8_t>(rng() % (1u << depth));
        png.palette.resize(3 * ((1u << depth) / 2 + 1));
        std::copy_n(png.palette.begin(), 3, png.palette.begin() + 3);
        if (interlaced) png.after_idat = png_chunk("tEXt", bytes_of(std::string("Comment\0after the image", 23)));
        write_bytes(png_in, build_png(png));
        write_bytes(pcx_in, build_pcx(pcx_of(png.pixels, size[0], size[1], size[0])));
        ToolRun run = run_tool({"-i", png_in, "-o", png_kob, "-p", pal});
        ASSERT_EQ(run.err, "") << what;
        ASSERT_EQ(run_tool({"-i", pcx_in, "-o", pcx_kob}).status, 0) << what;
        EXPECT_EQ(read_bytes(png_kob), read_bytes(pcx_kob)) << what;
        png.palette.resize(png_palette_size);
        EXPECT_EQ(read_bytes(pal), png.palette) << what;
      }
    }
  }
}

// PNGs written by Pillow and ImageMagick give the indices and the palette
// Pillow sees in them (the .pgm and .pal beside each, from make_png.sh).
TEST(Png, ThirdPartyFiles) {
  const char* const names[] = {"imagemagick-37x23",
                               "imagemagick-interlaced-37x23",
                               "imagemagick-4bit-interlaced-37x23",
                               "imagemagick-2bit-interlaced-37x23",
                               "pillow-1bit-13x7",
                               "pillow-2bit-37x23",
                               "pillow-4bit-9x17",
                               "pillow-8bit-61x40",
                               "pillow-transparent-24x16"};
  for (const std::string name : names) {
    std::string base = std::string(TEST_DATA_DIR) + "/png/" + name;
    Bytes pgm = read_bytes(base + ".pgm");
    unsigned width = 0, height = 0;
    int header = 0;
    ASSERT_EQ(sscanf(reinterpret_cast<const char*>(pgm.data()), "P5 %u %u 255%n", &width, &height, &header), 2);
    release_image();
    ASSERT_TRUE(read_src_png((base + ".png").c_str())) << name;
    ASSERT_EQ(src_pcx_width * src_pcx_height, width * height) << name;
    EXPECT_EQ(Bytes(src_pcx, src_pcx + width * height), Bytes(pgm.begin() + header + 1, pgm.end())) << name;
    EXPECT_EQ(Bytes(src_png_palette, src_png_palette + png_palette_size), read_bytes(base + ".pal")) << name;
  }
  release_image();
}

// On a 2 x 2 image of one index the strips hold nothing but skips exactly
// when that index is the transparent one.
TEST(Png, TransparentIndex) {
  struct Row {
    const char* name;
    Bytes alpha;
    std::vector<std::string> tc_args;
    uint8_t transparent;
  };
  const Bytes five = {255, 255, 255, 255, 255, 0};
  const std::vector<Row> rows = {
      {"no tRNS", {}, {}, 0},
      {"entry 5 of alpha 0", five, {}, 5},
      {"alpha 0 among partial alphas", {128, 0, 1, 254}, {}, 1},
      {"two entries of alpha 0", {255, 0, 255, 0}, {}, 0},
      {"only partial alphas", {128, 64}, {}, 0},
      {"-tc wins", five, {"-tc", "7"}, 7},
      {"-tc 0 wins too", five, {"-tc", "0"}, 0},
      {"-tc standing last is no -tc", five, {"-tc"}, 5},
  };
  std::string in = scratch_path("trns.png"), out = scratch_path("trns.kob");
  for (const Row& row : rows) {
    for (uint8_t index : {uint8_t{0}, uint8_t{5}, row.transparent}) {
      Png png = png_of(2, 2, Bytes(4, index), Bytes(48, 9));
      png.alpha = row.alpha;
      write_bytes(in, build_png(png));
      std::vector<std::string> args = {"-i", in, "-o", out};
      args.insert(args.end(), row.tc_args.begin(), row.tc_args.end());
      ASSERT_EQ(run_tool(args).status, 0) << row.name;
      Bytes sprite = read_bytes(out);
      bool skips_only = Bytes(sprite.begin() + 16, sprite.end()) == Bytes{0x00, 0x02, 0xff, 0x00, 0x02, 0xff};
      EXPECT_EQ(skips_only, index == row.transparent) << row.name << ", pixels of " << int(index);
    }
  }
}

template <typename Edit>
Bytes png_with(Edit edit) {
  Png png;
  edit(png);
  return build_png(png);
}

Bytes cut(const Bytes& file, size_t keep) { return Bytes(file.begin(), file.begin() + static_cast<long>(keep)); }

Bytes flipped(Bytes file, size_t at) {
  file[at] ^= 0x01;
  return file;
}

// One line, and no sprite and no palette file. Messages ending in ": " go on
// with libspng's own words for the damage.
TEST(Png, RefusedAndDamaged) {
  const Bytes valid = build_png(Png{});
  const size_t idat = 8 + 25 + 24 + 8;  // signature, IHDR, PLTE, IDAT's length and type
  const Bytes text = png_chunk("tEXt", bytes_of(std::string("Title\0x", 7)));
  const Bytes two_rows(10, 0);
  const std::string in = scratch_path("refused.png");
  const std::string damaged = "Damaged PNG '" + in + "': ";
  const std::string ends_early = damaged + "the file ends too early\n";
  const std::string no_iend = damaged + "the file does not end with IEND, it may be cut short\n";
  const std::string not_indexed =
      "PNG '" + in + "' is not indexed: save it with a palette (indexed colour, 256 colours at most)\n";
  const std::string too_big = ", larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n";
  const std::vector<std::pair<Bytes, std::string>> rows = {
      {png_with([](Png& p) { p.colour_type = 0; }), not_indexed},
      {png_with([](Png& p) { p.colour_type = 2; }), not_indexed},
      {png_with([](Png& p) { p.colour_type = 4; }), not_indexed},
      {png_with([](Png& p) { p.colour_type = 6; }), not_indexed},
      {png_with([](Png& p) { p.width = 1; }), "PNG is 1 x 3, smaller than the 2 x 2 of a sprite\n"},
      {png_with([](Png& p) { p.height = 1; }), "PNG is 4 x 1, smaller than the 2 x 2 of a sprite\n"},
      {png_with([](Png& p) { p.width = 512, p.pixels.resize(512 * 3); }), "PNG is 512 x 3" + too_big},
      {png_with([](Png& p) { p.height = 257, p.pixels.resize(4 * 257); }), "PNG is 4 x 257" + too_big},
      {cut(valid, 8), ends_early},
      {cut(valid, 20), ends_early},
      {cut(valid, idat + 3), damaged},
      {cut(valid, valid.size() - 12), ends_early},
      {cut(valid, valid.size() - 1), no_iend},
      {join({valid, {0}}), no_iend},
      {flipped(valid, 8 + 25 - 1), damaged},             // IHDR's CRC
      {flipped(valid, 8 + 25 + 24 - 1), damaged},        // PLTE's CRC
      {flipped(valid, valid.size() - 12 - 1), damaged},  // IDAT's CRC
      {flipped(valid, valid.size() - 1), damaged},       // IEND's CRC
      {png_with([&](Png& p) { p.before_idat = flipped(text, 15); }), damaged},
      {png_with([&](Png& p) { p.after_idat = flipped(text, 15); }), damaged},
      {png_with([](Png& p) { p.idat = {0x78, 0x9c, 0xff, 0xff, 0xff, 0xff}; }), damaged},
      {png_with([&](Png& p) { p.idat = zlib_compress(two_rows); }), damaged},
      {png_with([](Png& p) { p.idat = cut(zlib_compress(png_scanlines(p)), 6); }), damaged},
      {png_with([](Png& p) { p.palette.clear(); }), damaged},
      {png_with([](Png& p) { p.depth = 16; }), damaged},
      {png_with([](Png& p) { p.depth = 3; }), damaged},
      {png_with([](Png& p) { p.width = 0; }), damaged},
  };
  const std::string out = scratch_path("refused.kob"), pal = scratch_path("refused.pal");
  for (const auto& [file, err] : rows) {
    std::string row = std::to_string(&file - &rows[0].first) + ": " + err;
    write_bytes(in, file);
    ToolRun run = run_tool({"-i", in, "-o", out, "-p", pal});
    EXPECT_EQ(run.status, 1) << row;
    EXPECT_EQ(run.err.substr(0, err.back() == ' ' ? err.size() : std::string::npos), err) << row;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << row << run.err;
    EXPECT_FALSE(file_exists(out) || file_exists(pal)) << row;
  }
}

// Without a usable libspng a PNG gets one line naming it; a PCX never
// needs it.
TEST(Png, WithoutLibspng) {
  std::string dir = scratch_path("no-libspng");
  ASSERT_EQ(system(("mkdir -p '" + dir + "/broken' '" + dir + "/foreign'").c_str()), 0);
  write_bytes(dir + "/broken/libspng.so.0", bytes_of("not a library"));
  Dl_info zlib;  // a real library that is not libspng
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&crc32), &zlib), 0);
  write_bytes(dir + "/foreign/libspng.so.0", read_bytes(zlib.dli_fname));
  std::string png = dir + "/image.png", pcx = std::string(EXAMPLES_DIR) + "/slime.pcx", out = dir + "/image.kob";
  write_bytes(png, build_png(Png{}));
  const std::vector<std::vector<std::string>> rows = {
      {"broken", png,
       "Cannot read PNG without libspng (Debian package libspng0): " + dir + "/broken/libspng.so.0: file too short\n"},
      {"foreign", png, "Cannot read PNG: libspng.so.0 has no spng_ctx_new, it is too old\n"},
      {"broken", pcx, ""},
  };
  for (const auto& row : rows) {
    setenv("LD_LIBRARY_PATH", (dir + "/" + row[0]).c_str(), 1);
    ToolRun run = run_tool({"-i", row[1], "-o", out});
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(run.err, row[2]) << row[0];
    EXPECT_EQ(file_exists(out), row[2].empty()) << row[0];
    unlink(out.c_str());
  }
}

// A file too large for any sheet is refused without being decoded.
TEST(Png, HugeFile) {
  std::string in = scratch_path("huge.png"), out = scratch_path("huge.kob");
  write_bytes(in, build_png(Png{}));
  ASSERT_EQ(truncate(in.c_str(), off_t{1} << 32), 0);
  ToolRun run = run_tool({"-i", in, "-o", out});
  EXPECT_EQ(run.err, "PNG '" + in + "' is larger than the 256 MiB this reader takes\n");
  EXPECT_FALSE(file_exists(out));
  unlink(in.c_str());
}

}  // namespace
