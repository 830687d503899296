// kob2pcx: the way back from a sprite to a PCX image, through the real
// executables.
#include <gtest/gtest.h>

#include <cstdio>

#include "image.h"
#include "pcx/pcx.h"
#include "support.h"

namespace {

const char* const kob2pcx_usage =
    "KOB2PCX VGA Mode X sprite decompiler\n"
    "Paints a KOB sprite back into a 256-color PCX image.\n"
    "\n"
    "kob2pcx [options]\n"
    "  -o <filename>                Write PCX image to file\n"
    "  -i <filename>                Read KOB sprite from file\n"
    "  -tc <index>                  Specify transparency color\n"
    "  -p <filename>                Read VGA palette from file\n"
    "  -i <filename>                May also be a bank: -o paints its sheet\n"
    "  -frame <number>              Bank: paint this frame alone\n"
    "  -list                        Bank: list its frames on standard output\n";

ToolRun run_kob2pcx(const std::vector<std::string>& args) {
  RunOptions options;
  options.exe = KOB2PCX_EXE;
  return run_tool(args, options);
}

// A 2 x 3 sprite: column 0 a run of 3, column 1 a skip and a literal.
Bytes small_sprite() {
  return join(
      {bytes_of("KOB1VGAX"), {0x03, 0x00, 0x02, 0x00, 0, 0, 0, 0}, {0x83, 0x00, 0x07, 0xff}, {0x01, 0x02, 0x09, 0xff}});
}

TEST(Kob2pcx, CommandLine) {
  std::string sprite = scratch_path("cli.kob"), one_byte = scratch_path("one-byte.pal");
  write_bytes(sprite, small_sprite());
  write_bytes(one_byte, {0});
  struct Row {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Row> rows = {
      {{}, kob2pcx_usage},
      {{"--help"}, kob2pcx_usage},
      {{"-i", sprite}, kob2pcx_usage},
      {{"-i", sprite, "-o", "x.pcx", "-o"}, kob2pcx_usage},
      {{"-X"}, "Unknown switch 'X'. Use --help\n"},
      {{"sprite.kob"}, "Unknown param sprite.kob\n"},
      {{"-i", scratch_path("none.kob"), "-o", "x.pcx"},
       "Cannot open sprite file '" + scratch_path("none.kob") + "', No such file or directory\n"},
      {{"-i", scratch_dir(), "-o", "x.pcx"}, "Cannot read sprite file '" + scratch_dir() + "'\n"},
      {{"-i", sprite, "-o", "/dev/full"}, "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", sprite, "-o", scratch_path("x.pcx"), "-p", sprite},
       "Bad palette file '" + sprite + "': 24 bytes, a palette is 768\n"},
      {{"-i", sprite, "-o", scratch_path("x.pcx"), "-p", one_byte},
       "Bad palette file '" + one_byte + "': 1 byte, a palette is 768\n"},
  };
  for (const Row& row : rows) {
    ToolRun run = run_kob2pcx(row.args);
    EXPECT_EQ(run.status, 1) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
  }
}

// Each row breaks one rule of the layout; the message names the first
// broken rule and the byte where it stands.
TEST(Kob2pcx, MalformedSpritesAreRefused) {
  Bytes good = small_sprite();
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes sprite = good;
    std::copy(bytes.begin(), bytes.end(), sprite.begin() + static_cast<long>(at));
    return sprite;
  };
  struct Row {
    Bytes sprite;
    std::string problem;
  };
  const std::vector<Row> rows = {
      {Bytes(good.begin(), good.begin() + 10), "the file ends inside the header (byte 10)"},
      {with(0, {'k'}), "no KOB1VGAX magic (byte 0)"},
      {with(8, {0x01}), "height 1 outside 2 to 255 (byte 8)"},
      {with(8, {0x00, 0x01}), "height 256 outside 2 to 255 (byte 8)"},
      {with(10, {0x00, 0x02}), "width 512 outside 2 to 511 (byte 10)"},
      {with(10, {0x01}), "width 1 outside 2 to 511 (byte 10)"},
      {with(15, {0x01}), "reserved field is 16777216, not 0 (byte 12)"},
      {with(16, {0x7f}), "strip 0: control byte 127, a literal over 126 pixels (byte 16)"},
      {with(16, {0x82}), "strip 0: a run of 2 pixels, fewer than 3 (byte 16)"},
      {with(16, {0x80}), "strip 0: a run of 0 pixels, fewer than 3 (byte 16)"},
      {with(20, {0x00, 0x00}), "strip 1: a record with no skip and no pixels (byte 20)"},
      {with(21, {0xff}), "strip 1: a skip of 255, over 254 (byte 21)"},
      {with(16, {0x84}), "strip 0 covers 4 rows, header says 3 (byte 16)"},
      {with(21, {0x01}), "strip 1 covers 2 rows, header says 3 (byte 23)"},
      {with(16, {0x83, 0x00, 0x07, 0x00, 0x00}), "strip 0: a record with no skip and no pixels (byte 19)"},
      {Bytes(good.begin(), good.end() - 1), "the file ends inside strip 1 (byte 23)"},
      {Bytes(good.begin(), good.end() - 2), "the file ends inside strip 1 (byte 22)"},
      {Bytes(good.begin(), good.begin() + 17), "the file ends inside strip 0 (byte 17)"},
      {join({good, {0x00, 0x00}}), "2 bytes after the last strip (byte 24)"},
      {join({good, {0x00}}), "1 byte after the last strip (byte 24)"},
  };
  std::string sprite = scratch_path("bad.kob");
  for (const Row& row : rows) {
    write_bytes(sprite, row.sprite);
    ToolRun run = run_kob2pcx({"-i", sprite, "-o", scratch_path("bad.pcx")});
    EXPECT_EQ(run.status, 1) << row.problem;
    EXPECT_EQ(run.err, "Bad sprite file '" + sprite + "': " + row.problem + "\n");
  }
}

struct Image {
  uint32_t width = 0, height = 0;
  Bytes pixels;  // rows of `width`, padding dropped
  Bytes palette;
};

// Decodes a PCX file with the tool's own reader, padding dropped.
Image decode_file(const std::string& path) {
  Image image;
  Bytes file = read_bytes(path);
  if (!load_pcx(file)) return image;
  if (src_image.has_palette) image.palette.assign(src_image.palette, src_image.palette + 768);
  if (!decode_src_pcx()) return image;
  image.width = src_image.width;
  image.height = src_image.height;
  for (uint32_t y = 0; y < src_image.height; ++y) {
    const uint8_t* row = src_image.pixels + y * src_image.stride;
    image.pixels.insert(image.pixels.end(), row, row + src_image.width);
  }
  release_image();
  return image;
}

// pcx2kob, then kob2pcx with the same index, gives back the first 255 rows
// with transparent pixels as that index; pcx2kob on the result gives back
// the same sprite.
void expect_round_trip(const std::string& input, uint8_t transparent, const std::string& what) {
  std::string tc = std::to_string(transparent);
  std::string sprite = scratch_path("trip.kob"), palette = scratch_path("trip.pal");
  std::string back = scratch_path("trip.pcx"), again = scratch_path("trip-again.kob");
  unlink(palette.c_str());
  ASSERT_EQ(run_tool({"-i", input, "-o", sprite, "-p", palette, "-tc", tc}).status, 0) << what;
  std::vector<std::string> args = {"-i", sprite, "-o", back, "-tc", tc};
  if (file_exists(palette)) args.insert(args.end(), {"-p", palette});
  ToolRun run = run_kob2pcx(args);
  ASSERT_EQ(run.status, 0) << what << ": " << run.err;
  Image original = decode_file(input), returned = decode_file(back);
  uint32_t rows = std::min(original.height, 255u);
  ASSERT_EQ(returned.width, original.width) << what;
  ASSERT_EQ(returned.height, rows) << what;
  EXPECT_EQ(returned.pixels, Bytes(original.pixels.begin(), original.pixels.begin() + original.width * rows)) << what;
  if (file_exists(palette)) {
    EXPECT_EQ(returned.palette, read_bytes(palette)) << what;
  }
  ASSERT_EQ(run_tool({"-i", back, "-o", again, "-tc", tc}).status, 0) << what;
  EXPECT_EQ(read_bytes(again), read_bytes(sprite)) << what;
}

TEST(Kob2pcx, RoundTripsSeededImages) {
  srand(7);
  std::string input = scratch_path("trip-in.pcx");
  for (int round = 0; round < 40; ++round) {
    uint32_t width = 2 + static_cast<uint32_t>(rand()) % 510;
    uint32_t height = round % 5 == 0 ? 256 : 2 + static_cast<uint32_t>(rand()) % 255;
    uint8_t transparent = static_cast<uint8_t>(rand() % 3 ? 0 : rand());
    Bytes pixels(width * height);
    uint8_t value = 0;
    for (uint8_t& pixel : pixels) {
      if (rand() % 5 == 0) value = rand() % 3 ? transparent : static_cast<uint8_t>(rand());
      pixel = value;
    }
    Pcx pcx = pcx_of(pixels, width, height, width);
    pcx.with_palette = round % 2 == 0;
    Bytes file = build_pcx(pcx);
    if (!pcx.with_palette && file.size() < 897) file.resize(897 + 769, 0);  // zeros after the data, ignored
    write_bytes(input, file);
    expect_round_trip(input, transparent, std::to_string(width) + "x" + std::to_string(height));
  }
}

TEST(Kob2pcx, RoundTripsShippedImages) {
  expect_round_trip(std::string(EXAMPLES_DIR) + "/slime.pcx", 0, "slime");
  for (const char* name : {"imagemagick-37x23", "netpbm-511x256", "pillow-200x64"}) {
    expect_round_trip(std::string(TEST_DATA_DIR) + "/interop/" + name + ".pcx", 0, name);
  }
}

TEST(Kob2pcx, GreyRampWithoutAPalette) {
  std::string sprite = scratch_path("grey.kob"), out = scratch_path("grey.pcx");
  write_bytes(sprite, small_sprite());
  ASSERT_EQ(run_kob2pcx({"-i", sprite, "-o", out, "-tc", "5"}).status, 0);
  Image image = decode_file(out);
  Bytes ramp;
  for (int i = 0; i < 768; ++i) ramp.push_back(static_cast<uint8_t>(i / 3));
  EXPECT_EQ(image.palette, ramp);
  EXPECT_EQ(image.pixels, (Bytes{7, 5, 7, 5, 7, 9}));
}

// netpbm's pcxtoppm, a reader of its own, sees the same colours.
TEST(Kob2pcx, ThirdPartyReaderAgrees) {
  if (system("command -v pcxtoppm >/dev/null 2>&1") != 0) GTEST_SKIP() << "pcxtoppm is not installed";
  std::string input = std::string(EXAMPLES_DIR) + "/slime.pcx";
  std::string sprite = scratch_path("ppm.kob"), palette = scratch_path("ppm.pal"), back = scratch_path("ppm.pcx");
  ASSERT_EQ(run_tool({"-i", input, "-o", sprite, "-p", palette}).status, 0);
  ASSERT_EQ(run_kob2pcx({"-i", sprite, "-o", back, "-p", palette}).status, 0);
  std::string ppm = scratch_path("ppm.ppm");
  ASSERT_EQ(system(("pcxtoppm '" + back + "' > '" + ppm + "' 2>/dev/null").c_str()), 0);
  FILE* f = fopen(ppm.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned width = 0, height = 0, maxval = 0;
  ASSERT_EQ(fscanf(f, "P6 %u %u %u", &width, &height, &maxval), 3);
  fgetc(f);
  Bytes rgb(width * height * 3);
  ASSERT_EQ(fread(rgb.data(), 1, rgb.size(), f), rgb.size());
  fclose(f);
  Image image = decode_file(back);
  ASSERT_EQ(width, image.width);
  ASSERT_EQ(height, image.height);
  Bytes colours = read_bytes(palette);
  Bytes expected;
  for (uint8_t index : image.pixels)
    expected.insert(expected.end(), colours.begin() + index * 3, colours.begin() + index * 3 + 3);
  EXPECT_EQ(rgb, expected);
}

}  // namespace
