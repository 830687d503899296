// The column strip encoder and whole sprite files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"
#include "strip_walker.h"
#include "support.h"

namespace {

// The strip one column of pixels compiles to.
Bytes encode_column(Bytes column, uint8_t transparent) {
  Image image = {};
  image.pixels = column.data();
  image.width = image.stride = 1;
  image.height = static_cast<uint32_t>(column.size());
  image.transparent = transparent;
  unsigned length = encode_strip(image, 0);
  return Bytes(out_strip, out_strip + length);
}

Bytes alternating(size_t count, uint8_t a, uint8_t b) {
  Bytes column;
  for (size_t i = 0; i < count; ++i) column.push_back(i % 2 ? b : a);
  return column;
}

struct StripRow {
  const char* name;
  Bytes column;
  Bytes strip;
  uint8_t transparent = 0;
};

TEST(Encoder, ColumnsToStrips) {
  const std::vector<StripRow> rows = {
      {"skip, run, literal, skip",
       {0, 0, 5, 5, 5, 5, 7, 8, 0, 0},
       {0x84, 0x02, 0x05, 0x02, 0x00, 0x07, 0x08, 0x00, 0x02, 0xff}},
      {"two equal are a literal", {4, 4}, {0x02, 0x00, 0x04, 0x04, 0xff}},
      {"three equal are a run", {4, 4, 4}, {0x83, 0x00, 0x04, 0xff}},
      {"six equal", {6, 6, 6, 6, 6, 6}, {0x86, 0x00, 0x06, 0xff}},
      {"five equal stay in a literal",
       {6, 1, 6, 6, 6, 6, 6},
       {0x07, 0x00, 0x06, 0x01, 0x06, 0x06, 0x06, 0x06, 0x06, 0xff}},
      {"the sixth gives four back", {6, 1, 6, 6, 6, 6, 6, 6}, {0x03, 0x00, 0x06, 0x01, 0x06, 0x85, 0x00, 0x06, 0xff}},
      {"literal then run of six",
       {3, 9, 9, 9, 9, 9, 9, 9, 2},
       {0x02, 0x00, 0x03, 0x09, 0x86, 0x00, 0x09, 0x01, 0x00, 0x02, 0xff}},
      {"give-back after a pair",
       {1, 1, 2, 2, 2, 2, 2, 2, 2, 2},
       {0x03, 0x00, 0x01, 0x01, 0x02, 0x87, 0x00, 0x02, 0xff}},
      {"literal ends at transparency", {1, 2, 3, 0, 0, 0, 4}, {0x03, 0x00, 0x01, 0x02, 0x03, 0x01, 0x03, 0x04, 0xff}},
      {"run of 126", repeat(126, 9), {0xfe, 0x00, 0x09, 0xff}},
      {"run of 127", repeat(127, 9), {0xfe, 0x00, 0x09, 0x01, 0x00, 0x09, 0xff}},
      {"run of 128", repeat(128, 9), {0xfe, 0x00, 0x09, 0x02, 0x00, 0x09, 0x09, 0xff}},
      {"run of 129", repeat(129, 9), {0xfe, 0x00, 0x09, 0x83, 0x00, 0x09, 0xff}},
      {"run of 130", repeat(130, 9), {0xfe, 0x00, 0x09, 0x84, 0x00, 0x09, 0xff}},
      {"255 of one colour", repeat(255, 7), {0xfe, 0x00, 0x07, 0xfe, 0x00, 0x07, 0x83, 0x00, 0x07, 0xff}},
      {"255 transparent", repeat(255, 0), {0x00, 0xfe, 0x00, 0x01, 0xff}},
      {"254 transparent then one", join({repeat(254, 0), {5}}), {0x01, 0xfe, 0x05, 0xff}},
      {"253 transparent then two", join({repeat(253, 0), {5, 5}}), {0x02, 0xfd, 0x05, 0x05, 0xff}},
      {"transparent index 255", {0, 0, 255, 255, 0}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0xff}, 255},
      {"transparent index 7", {7, 0, 0, 0, 7}, {0x83, 0x01, 0x00, 0x00, 0x01, 0xff}, 7},
      {"255 in a run", {255, 255, 255}, {0x83, 0x00, 0xff, 0xff}},
      {"255 in a literal", {1, 255, 2}, {0x03, 0x00, 0x01, 0xff, 0x02, 0xff}},
      {"literal of 126", alternating(126, 1, 2), join({{0x7e, 0x00}, alternating(126, 1, 2), {0xff}})},
      {"literal of 127", alternating(127, 1, 2),
       join({{0x7e, 0x00}, alternating(126, 1, 2), {0x01, 0x00, 0x01, 0xff}})},
      {"two rows", {0, 0}, {0x00, 0x02, 0xff}},
  };
  for (const StripRow& row : rows) EXPECT_EQ(encode_column(row.column, row.transparent), row.strip) << row.name;
  release_image();
}

TEST(Encoder, LongestStripFitsWithRoomToSpare) {
  Bytes strip = encode_column(alternating(255, 1, 0), 0);
  EXPECT_EQ(strip.size(), 385u);
  release_image();
}

// Generators of columns the property test mixes: noise, long runs,
// transparent bands, alternation, and runs near the limits.
Bytes random_column(uint32_t height, uint8_t transparent) {
  Bytes column(height);
  int kind = rand() % 5;
  uint8_t value = static_cast<uint8_t>(rand());
  for (uint32_t y = 0; y < height; ++y) {
    switch (kind) {
      case 0:
        value = static_cast<uint8_t>(rand());
        break;
      case 1:
        if (rand() % 40 == 0) value = static_cast<uint8_t>(rand());
        break;
      case 2:
        if (rand() % 12 == 0) value = rand() % 2 ? transparent : static_cast<uint8_t>(rand() % 4);
        break;
      case 3:
        value = y % 2 ? transparent : static_cast<uint8_t>(1 + rand() % 3);
        break;
      default:
        if (rand() % 6 == 0) value = static_cast<uint8_t>(rand() % 3 + transparent - 1);
        break;
    }
    column[y] = value;
  }
  return column;
}

TEST(Encoder, EveryStripPaintsItsColumnBack) {
  srand(3);
  for (int round = 0; round < 20000; ++round) {
    uint32_t height = 2 + static_cast<uint32_t>(rand()) % 254;
    uint8_t transparent = rand() % 3 ? 0 : static_cast<uint8_t>(rand());
    Bytes column = random_column(height, transparent);
    Bytes strip = encode_column(column, transparent);
    std::vector<int> painted;
    size_t length = 0;
    ASSERT_EQ(walk_strip(strip.data(), strip.size(), height, painted, length), "") << round;
    ASSERT_EQ(length, strip.size()) << round;
    for (uint32_t y = 0; y < height; ++y) {
      ASSERT_EQ(painted[y], column[y] == transparent ? -1 : column[y]) << round << " row " << y;
    }
  }
  release_image();
}

// Whole images through the real executable.
struct SpriteCase {
  uint32_t width, height, stride;
  uint8_t transparent;
  Bytes pixels;
};

SpriteCase random_image(uint32_t width, uint32_t height) {
  SpriteCase image{width, height, width + static_cast<uint32_t>(rand() % 2), 0, {}};
  image.transparent = rand() % 2 ? 0 : static_cast<uint8_t>(rand());
  for (uint32_t x = 0; x < image.stride; ++x) {
    Bytes column = random_column(height, image.transparent);
    image.pixels.resize(static_cast<size_t>(image.stride) * height);
    for (uint32_t y = 0; y < height; ++y) image.pixels[y * image.stride + x] = column[y];
  }
  return image;
}

TEST(SpriteFile, RandomImagesCompileAndPaintBack) {
  srand(11);
  std::string in = scratch_path("random.pcx");
  std::string out = scratch_path("random.kob");
  const uint32_t sizes[][2] = {{2, 2}, {320, 200}, {511, 256}, {3, 255}, {17, 257 - 1}, {40, 2}};
  for (int round = 0; round < 30; ++round) {
    const uint32_t* size = sizes[round % 6];
    SpriteCase image = random_image(size[0], size[1]);
    write_bytes(in, build_pcx(pcx_of(image.pixels, image.width, image.height, image.stride)));
    ToolRun run = run_tool({"-i", in, "-o", out, "-tc", std::to_string(image.transparent)});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.err + run.out, "");
    EXPECT_EQ(
        check_sprite(read_bytes(out), image.pixels.data(), image.width, image.height, image.stride, image.transparent),
        "")
        << image.width << "x" << image.height;
  }
}

TEST(SpriteFile, HeaderFields) {
  struct Row {
    uint32_t width, height;
    Bytes header_tail;  // bytes 8 to 15
  };
  const std::vector<Row> rows = {
      {320, 200, {0xc8, 0x00, 0x40, 0x01, 0, 0, 0, 0}},
      {2, 256, {0xff, 0x00, 0x02, 0x00, 0, 0, 0, 0}},
      {511, 255, {0xff, 0x00, 0xff, 0x01, 0, 0, 0, 0}},
      {2, 2, {0x02, 0x00, 0x02, 0x00, 0, 0, 0, 0}},
  };
  std::string in = scratch_path("header.pcx");
  std::string out = scratch_path("header.kob");
  for (const Row& row : rows) {
    write_bytes(in, build_pcx(pcx_of(Bytes(row.width * row.height, 1), row.width, row.height, row.width)));
    ASSERT_EQ(run_tool({"-i", in, "-o", out}).status, 0);
    Bytes sprite = read_bytes(out);
    ASSERT_GE(sprite.size(), 16u);
    EXPECT_EQ(Bytes(sprite.begin(), sprite.begin() + 8), bytes_of("KOB1VGAX"));
    EXPECT_EQ(Bytes(sprite.begin() + 8, sprite.begin() + 16), row.header_tail) << row.width << "x" << row.height;
  }
}

// The example sprite, byte for byte, and the palette beside it.
TEST(SpriteFile, ExampleMatchesGolden) {
  std::string out = scratch_path("slime.kob");
  std::string palette = scratch_path("slime.pal");
  ToolRun run = run_tool({"-i", std::string(EXAMPLES_DIR) + "/slime.pcx", "-o", out, "-p", palette});
  ASSERT_EQ(run.status, 0) << run.err;
  Bytes golden = read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob");
  EXPECT_EQ(read_bytes(out), golden);
  EXPECT_EQ(read_bytes(palette), read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal"));
  // The golden file itself paints back the example.
  ASSERT_TRUE(load_pcx(read_bytes(std::string(EXAMPLES_DIR) + "/slime.pcx")));
  ASSERT_TRUE(decode_src_pcx());
  const Image& image = src_image;
  Bytes pixels(image.pixels, image.pixels + image.stride * image.height);
  EXPECT_EQ(check_sprite(golden, pixels.data(), image.width, image.height, image.stride, 0), "");
  release_image();
}

TEST(SpriteFile, WriteFailuresAreReported) {
  std::string example = std::string(EXAMPLES_DIR) + "/slime.pcx";
  std::string dir = scratch_path("no-such-dir");
  struct Row {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Row> rows = {
      {{"-i", example, "-o", "/dev/full"}, "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", example, "-o", scratch_path("ok.kob"), "-p", "/dev/full"},
       "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", example, "-o", dir + "/x.kob"}, "Cannot create file '" + dir + "/x.kob', No such file or directory\n"},
      {{"-i", example, "-o", scratch_dir()}, "Cannot create file '" + scratch_dir() + "', Is a directory\n"},
  };
  for (const Row& row : rows) {
    ToolRun run = run_tool(row.args);
    EXPECT_EQ(run.status, 1) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
