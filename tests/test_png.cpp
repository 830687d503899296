// Indexed PNG input: the same sprite and palette as a PCX of the same pixels,
// files from third-party tools, the transparent index from tRNS, and every
// PNG that is refused, with nothing left on disk for it.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "options.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "png_writer.h"
#include "support.h"

namespace {

const std::string png_dir = std::string(TEST_DATA_DIR) + "/png";

// Random indices below 2^depth in short runs, so that sprites get runs,
// literals and skips.
Bytes random_indices(std::mt19937& rng, size_t count, uint8_t depth) {
  Bytes pixels(count);
  uint8_t value = 0;
  for (uint8_t& pixel : pixels) {
    if (rng() % 3 == 0) value = static_cast<uint8_t>(rng() % (1u << depth));
    pixel = value;
  }
  return pixels;
}

void expect_ok(const ToolRun& run, const std::string& what) {
  EXPECT_EQ(run.status, 0) << what << ": " << run.err;
  EXPECT_EQ(run.err, "") << what;
}

// The palette file holds PLTE's entries, zero beyond them; two entries of
// one colour and indices beyond PLTE stay indices of their own.
TEST(Png, SameSpriteAndPaletteAsPcx) {
  struct Size {
    uint32_t width, height;
  };
  const Size sizes[] = {{2, 2}, {3, 5}, {9, 9}, {37, 23}, {511, 3}, {5, 256}};
  std::mt19937 rng(2026);
  std::string png_path = scratch_path("same.png"), pcx_path = scratch_path("same.pcx");
  std::string png_kob = scratch_path("same-png.kob"), pcx_kob = scratch_path("same-pcx.kob");
  std::string pal = scratch_path("same.pal");
  for (uint8_t depth : {1, 2, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (const Size& size : sizes) {
        std::string what = "depth " + std::to_string(depth) + (interlaced ? " interlaced " : " ") +
                           std::to_string(size.width) + "x" + std::to_string(size.height);
        Png png;
        png.width = size.width;
        png.height = size.height;
        png.depth = depth;
        png.interlaced = interlaced;
        png.pixels = random_indices(rng, size.width * size.height, depth);
        uint32_t entries = (1u << depth) / 2 + 1;
        png.palette = png_palette(entries);
        if (interlaced) png.after_idat = png_chunk("tEXt", bytes_of(std::string("Comment\0after the image", 23)));
        std::copy(png.palette.begin(), png.palette.begin() + 3, png.palette.begin() + 3);  // 0 and 1 alike
        write_bytes(png_path, build_png(png));
        write_bytes(pcx_path, build_pcx(pcx_of(png.pixels, size.width, size.height, size.width)));
        expect_ok(run_tool({"-i", png_path, "-o", png_kob, "-p", pal}), what);
        expect_ok(run_tool({"-i", pcx_path, "-o", pcx_kob}), what);
        EXPECT_EQ(read_bytes(png_kob), read_bytes(pcx_kob)) << what;
        Bytes expected_palette = png.palette;
        expected_palette.resize(png_palette_size);
        EXPECT_EQ(read_bytes(pal), expected_palette) << what;
      }
    }
  }
}

std::vector<std::string> fixture_names() {
  std::vector<std::string> names;
  DIR* listing = opendir(png_dir.c_str());
  if (!listing) return names;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0)
      names.push_back(name.substr(0, name.size() - 4));
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// PNGs written by Pillow and ImageMagick decode to the indices and palette
// Pillow sees in them (the .pgm and .pal beside each, from make_png.sh).
TEST(Png, ThirdPartyFiles) {
  std::vector<std::string> names = fixture_names();
  ASSERT_GE(names.size(), 8u);
  for (const std::string& name : names) {
    std::string base = png_dir + "/" + name;
    Bytes pgm = read_bytes(base + ".pgm");
    unsigned width = 0, height = 0;
    int header = 0;
    ASSERT_EQ(sscanf(reinterpret_cast<const char*>(pgm.data()), "P5 %u %u 255%n", &width, &height, &header), 2);
    Bytes expected(pgm.begin() + header + 1, pgm.end());
    release_image();
    testing::internal::CaptureStderr();
    bool read = read_src_png((base + ".png").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << name;
    ASSERT_TRUE(read) << name;
    ASSERT_EQ(src_pcx_width, width) << name;
    ASSERT_EQ(src_pcx_height, height) << name;
    EXPECT_EQ(Bytes(src_pcx, src_pcx + expected.size()), expected) << name;
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
  const std::vector<Row> rows = {
      {"no tRNS", {}, {}, 0},
      {"one entry of alpha 0", {255, 255, 255, 255, 255, 0}, {}, 5},
      {"alpha 0 among partial alphas", {128, 0, 1, 254}, {}, 1},
      {"two entries of alpha 0", {255, 0, 255, 0}, {}, 0},
      {"only partial alphas", {128, 64}, {}, 0},
      {"-tc wins", {255, 255, 255, 255, 255, 0}, {"-tc", "7"}, 7},
      {"-tc 0 wins too", {255, 255, 255, 255, 255, 0}, {"-tc", "0"}, 0},
      {"-tc standing last is no -tc", {255, 255, 255, 255, 255, 0}, {"-tc"}, 5},
  };
  std::string in = scratch_path("trns.png"), out = scratch_path("trns.kob");
  for (const Row& row : rows) {
    for (uint8_t index : {uint8_t{0}, uint8_t{5}, row.transparent}) {
      Png png;
      png.palette = png_palette(16);
      png.alpha = row.alpha;
      png.pixels = Bytes(4, index);
      write_bytes(in, build_png(png));
      std::vector<std::string> args = {"-i", in, "-o", out};
      args.insert(args.end(), row.tc_args.begin(), row.tc_args.end());
      expect_ok(run_tool(args), row.name);
      Bytes strips = read_bytes(out);
      strips.erase(strips.begin(), strips.begin() + 16);
      bool skips_only = strips == Bytes{0x00, 0x02, 0xff, 0x00, 0x02, 0xff};
      EXPECT_EQ(skips_only, index == row.transparent) << row.name << ", pixels of " << int(index);
    }
  }
}

Bytes cut(const Bytes& file, size_t drop) { return Bytes(file.begin(), file.end() - static_cast<long>(drop)); }

Bytes flipped(Bytes file, size_t at) {
  file[at] ^= 0x01;
  return file;
}

// Where the IDAT chunk's data of a build_png file starts, and its length.
size_t idat_data(const Bytes& file, size_t* length) {
  for (size_t i = 8; i + 8 <= file.size();) {
    size_t chunk_length = static_cast<size_t>(file[i]) << 24 | file[i + 1] << 16 | file[i + 2] << 8 | file[i + 3];
    if (std::string(file.begin() + static_cast<long>(i) + 4, file.begin() + static_cast<long>(i) + 8) == "IDAT") {
      *length = chunk_length;
      return i + 8;
    }
    i += 12 + chunk_length;
  }
  return 0;
}

Png valid_png(uint32_t width, uint32_t height) {
  Png png;
  png.width = width;
  png.height = height;
  png.pixels = Bytes(static_cast<size_t>(width) * height, 3);
  png.palette = png_palette(4);
  return png;
}

template <typename Edit>
Bytes png_with(Edit edit) {
  Png png = valid_png(4, 3);
  edit(png);
  return build_png(png);
}

// A valid 4 x 3 PNG whose image data is `data` instead.
Bytes png_with_data(const Bytes& data) {
  Bytes valid = build_png(valid_png(4, 3));
  size_t length;
  size_t idat = idat_data(valid, &length);
  return join({Bytes(valid.begin(), valid.begin() + static_cast<long>(idat) - 8), png_chunk("IDAT", data),
               png_chunk("IEND", {})});
}

Bytes compressed(const Bytes& raw) {
  Bytes data(compressBound(raw.size()));
  uLongf size = data.size();
  if (compress(data.data(), &size, raw.data(), raw.size()) != Z_OK) return {};
  data.resize(size);
  return data;
}

// Every refused PNG gets one line and leaves no sprite and no palette file.
// Messages ending in ": " continue with libspng's own words for the damage.
TEST(Png, RefusedAndDamaged) {
  const Bytes valid = build_png(valid_png(4, 3));
  size_t idat_length = 0;
  const size_t idat = idat_data(valid, &idat_length);
  ASSERT_NE(idat, 0u);
  Bytes two_rows = png_raw_data(valid_png(4, 3));
  two_rows.resize(2 * (1 + 4));
  const std::string in = scratch_path("refused.png");
  const std::string not_indexed =
      "PNG '" + in + "' is not indexed: save it with a palette (indexed colour, 256 colours at most)\n";
  const std::string damaged = "Damaged PNG '" + in + "': ";
  const std::string cut_short = damaged + "the file does not end with IEND, it may be cut short\n";
  struct Row {
    const char* name;
    Bytes file;
    std::string err;
    std::vector<std::string> args = {};
  };
  const std::vector<Row> rows = {
      {"grey", png_with([](Png& p) { p.colour_type = 0; }), not_indexed},
      {"RGB", png_with([](Png& p) { p.colour_type = 2; }), not_indexed},
      {"grey and alpha", png_with([](Png& p) { p.colour_type = 4; }), not_indexed},
      {"RGBA", png_with([](Png& p) { p.colour_type = 6; }), not_indexed},
      {"1 wide", build_png(valid_png(1, 3)), "PNG is 1 x 3, smaller than the 2 x 2 of a sprite\n"},
      {"1 high", build_png(valid_png(3, 1)), "PNG is 3 x 1, smaller than the 2 x 2 of a sprite\n"},
      {"512 wide", build_png(valid_png(512, 2)),
       "PNG is 512 x 2, larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n"},
      {"257 high", build_png(valid_png(2, 257)),
       "PNG is 2 x 257, larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n"},
      {"sheet of 8200",
       build_png(valid_png(8200, 2)),
       "PNG sheet is 8200 x 2, larger than 8192 x 8192\n",
       {"-grid", "2x2"}},
      {"sheet of part cells",
       build_png(valid_png(9, 4)),
       "PNG sheet is 9 x 4, which does not fit a whole number of 2 x 2 cells\n",
       {"-grid", "2x2"}},
      {"signature only", Bytes(valid.begin(), valid.begin() + 8), damaged + "the file ends too early\n"},
      {"cut in IHDR", cut(valid, valid.size() - 20), damaged + "the file ends too early\n"},
      {"cut in IDAT", cut(valid, 12 + 4 + idat_length / 2), damaged},
      {"cut before IEND", cut(valid, 12), damaged + "the file ends too early\n"},
      {"cut in IEND's CRC", cut(valid, 1), cut_short},
      {"bytes after IEND", join({valid, {0}}), cut_short},
      {"bad IHDR CRC", flipped(valid, 8 + 8 + 13), damaged},
      {"bad PLTE CRC", flipped(valid, 8 + 25 + 8 + 12), damaged},
      {"bad IDAT CRC", flipped(valid, idat + idat_length), damaged},
      {"bad IEND CRC", flipped(valid, valid.size() - 1), damaged},
      {"bad ancillary CRC",
       png_with([](Png& p) { p.before_idat = flipped(png_chunk("tEXt", bytes_of(std::string("Title\0x", 7))), 15); }),
       damaged},
      {"bad CRC after IDAT",
       png_with([](Png& p) { p.after_idat = flipped(png_chunk("tEXt", bytes_of(std::string("Title\0x", 7))), 15); }),
       damaged},
      {"bad zlib stream", png_with_data({0x78, 0x9c, 0xff, 0xff, 0xff, 0xff}), damaged},
      {"zlib stream short of the rows", png_with_data(compressed(two_rows)), damaged},
      {"zlib stream cut", png_with_data(cut(compressed(png_raw_data(valid_png(4, 3))), 6)), damaged},
      {"no PLTE", png_with([](Png& p) { p.palette.clear(); }), damaged},
      {"bit depth 16", png_with([](Png& p) { p.depth = 16; }), damaged},
      {"bit depth 3", png_with([](Png& p) { p.depth = 3; }), damaged},
      {"width 0", png_with([](Png& p) { p.width = 0; }), damaged},
  };
  // Named for -grid; without it the name is taken as it is.
  const std::string out = scratch_path("refused%d.kob"), pal = scratch_path("refused.pal");
  for (const Row& row : rows) {
    write_bytes(in, row.file);
    std::vector<std::string> args = {"-i", in, "-o", out, "-p", pal};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 1) << row.name;
    if (row.err.back() == ' ') {
      EXPECT_EQ(run.err.substr(0, row.err.size()), row.err) << row.name;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << row.name << ": " << run.err;
    } else {
      EXPECT_EQ(run.err, row.err) << row.name;
    }
    EXPECT_FALSE(file_exists(out)) << row.name;
    EXPECT_FALSE(file_exists(scratch_path("refused0.kob"))) << row.name;
    EXPECT_FALSE(file_exists(pal)) << row.name;
  }
}

// A file too large to be a sprite sheet's PNG is refused whole.
TEST(Png, HugeFile) {
  std::string in = scratch_path("huge.png"), out = scratch_path("huge.kob");
  write_bytes(in, build_png(valid_png(4, 3)));
  ASSERT_EQ(truncate(in.c_str(), off_t{1} << 32), 0);
  ToolRun run = run_tool({"-i", in, "-o", out});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "PNG '" + in + "' is larger than the 256 MiB this reader takes\n");
  EXPECT_FALSE(file_exists(out));
  unlink(in.c_str());
}

// Without a usable libspng a PNG gets one line naming it; a PCX never
// needs it.
TEST(Png, WithoutLibspng) {
  std::string dir = scratch_path("no-libspng");
  ASSERT_EQ(system(("mkdir -p '" + dir + "/broken' '" + dir + "/foreign'").c_str()), 0);
  write_bytes(dir + "/broken/libspng.so.0", bytes_of("not a library"));
  // A real library that is not libspng: the zlib the tests use.
  Dl_info zlib;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&crc32), &zlib), 0);
  write_bytes(dir + "/foreign/libspng.so.0", read_bytes(zlib.dli_fname));
  std::string png = dir + "/image.png", pcx = dir + "/image.pcx", out = dir + "/image.kob";
  write_bytes(png, build_png(valid_png(4, 3)));
  write_bytes(pcx, read_bytes(std::string(EXAMPLES_DIR) + "/slime.pcx"));
  struct Row {
    std::string library_dir, input, err;
    int status;
  };
  const std::vector<Row> rows = {
      {dir + "/broken", png,
       "Cannot read PNG without libspng (Debian package libspng0): " + dir + "/broken/libspng.so.0: file too short\n",
       1},
      {dir + "/foreign", png, "Cannot read PNG: libspng.so.0 has no spng_ctx_new, it is too old\n", 1},
      {dir + "/broken", pcx, "", 0},
  };
  for (const Row& row : rows) {
    setenv("LD_LIBRARY_PATH", row.library_dir.c_str(), 1);
    ToolRun run = run_tool({"-i", row.input, "-o", out});
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(run.status, row.status) << row.library_dir;
    EXPECT_EQ(run.err, row.err) << row.library_dir;
    EXPECT_EQ(file_exists(out), row.status == 0) << row.library_dir;
    unlink(out.c_str());
  }
}

}  // namespace
