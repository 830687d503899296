// The PCX reader in process: header checks, limits, palette, decoding.
#include <gtest/gtest.h>

#include "image.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"
#include "support.h"

namespace {

// A PCX of the given size whose image data is all zero pixels; `edit` then
// changes the header fields the row is about.
template <typename Edit>
Pcx image(uint16_t width, uint16_t height, Edit edit) {
  Pcx pcx;
  pcx.xmax = static_cast<uint16_t>(width - 1);
  pcx.ymax = static_cast<uint16_t>(height - 1);
  pcx.stride = width;
  edit(pcx);
  return pcx;
}
Pcx image(uint16_t width, uint16_t height) {
  return image(width, height, [](Pcx&) {});
}

struct IntakeRow {
  const char* name;
  Bytes file;
  std::string err;  // empty when the file is accepted
  uint32_t width = 0, height = 0, stride = 0, strip_height = 0;
};

TEST(Intake, HeaderAndLimits) {
  Bytes valid = build_pcx(image(2, 2));
  Bytes at_least(897, 0);
  std::copy(valid.begin(), valid.begin() + 128, at_least.begin());
  const std::vector<IntakeRow> rows = {
      {"896 bytes", Bytes(at_least.begin(), at_least.end() - 1), "File is too small to be PCX\n"},
      {"897 bytes", at_least, "", 2, 2, 2, 2},
      {"empty", Bytes{}, "File is too small to be PCX\n"},
      {"manufacturer 11", build_pcx(image(2, 2, [](Pcx& p) { p.manufacturer = 11; })), "PCX format not supported\n"},
      {"encoding 0", build_pcx(image(2, 2, [](Pcx& p) { p.encoding = 0; })), "PCX format not supported\n"},
      {"4 bits", build_pcx(image(2, 2, [](Pcx& p) { p.bits = 4; })), "PCX format not supported\n"},
      {"3 planes", build_pcx(image(2, 2, [](Pcx& p) { p.planes = 3; })), "PCX format not supported\n"},
      {"xmin = xmax", build_pcx(image(2, 2, [](Pcx& p) { p.xmin = p.xmax; })), "PCX format not supported\n"},
      {"ymin = ymax", build_pcx(image(2, 2, [](Pcx& p) { p.ymin = p.ymax; })), "PCX format not supported\n"},
      {"xmin > xmax", build_pcx(image(2, 2, [](Pcx& p) { p.xmin = 9; })), "PCX format not supported\n"},
      {"version 0", build_pcx(image(2, 2, [](Pcx& p) { p.version = 0; })), "", 2, 2, 2, 2},
      {"version 255", build_pcx(image(2, 2, [](Pcx& p) { p.version = 255; })), "", 2, 2, 2, 2},
      {"offset origin",
       build_pcx(image(2, 2, [](Pcx& p) { p.xmin = 100, p.xmax = 140, p.ymin = 7, p.ymax = 9, p.stride = 41; })), "",
       41, 3, 41, 3},
      {"width 511", build_pcx(image(511, 2)), "", 511, 2, 511, 2},
      {"width 512", build_pcx(image(512, 2)), "PCX too big\n"},
      {"width 65536", build_pcx(image(2, 2, [](Pcx& p) { p.xmax = 65535; })), "PCX too big\n"},
      {"height 256", build_pcx(image(2, 256)), "", 2, 256, 2, 255},
      {"height 255", build_pcx(image(2, 255)), "", 2, 255, 2, 255},
      {"height 257", build_pcx(image(2, 257)), "PCX too big\n"},
      {"stride = width", build_pcx(image(37, 2)), "", 37, 2, 37, 2},
      {"stride = width - 1", build_pcx(image(37, 2, [](Pcx& p) { p.stride = 36; })), "PCX stride < width\n"},
      {"stride odd and larger", build_pcx(image(37, 2, [](Pcx& p) { p.stride = 65535; })), "", 37, 2, 65535, 2},
      {"limits before stride", build_pcx(image(512, 2, [](Pcx& p) { p.stride = 500; })), "PCX too big\n"},
  };
  for (const IntakeRow& row : rows) {
    testing::internal::CaptureStderr();
    bool ok = load_pcx(row.file);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err) << row.name;
    EXPECT_EQ(ok, row.err.empty()) << row.name;
    if (!ok) continue;
    EXPECT_EQ(src_image.width, row.width) << row.name;
    EXPECT_EQ(src_image.height, row.height) << row.name;
    EXPECT_EQ(src_image.stride, row.stride) << row.name;
    EXPECT_EQ(strip_height_for(src_image.height), row.strip_height) << row.name;
  }
  release_image();
}

TEST(Intake, MissingFileNamesPathAndError) {
  std::string path = scratch_path("no-such.pcx");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(read_src_pcx(path.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot open source file '" + path + "', No such file or directory\n");
}

// The palette block is found by the marker 769 bytes from the end, and only
// there; the image data stops at it.
TEST(Intake, PaletteMarker) {
  struct Row {
    const char* name;
    Bytes file;
    bool palette;
    size_t data_size;
  };
  Pcx plain = image(2, 2);
  plain.data = Bytes(800, 1);
  Pcx marked = plain;
  marked.with_palette = false;
  marked.data[800 - 769] = 0x0C;
  Pcx shifted = plain;
  shifted.with_palette = false;
  shifted.data[800 - 768] = 0x0C;
  const std::vector<Row> rows = {
      {"marker and palette", build_pcx(plain), true, 800},
      {"no marker", build_pcx(shifted), false, 800},
      {"a data byte of 12 where the marker goes", build_pcx(marked), true, 800 - 769},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(load_pcx(row.file)) << row.name;
    EXPECT_EQ(src_image.has_palette, row.palette) << row.name;
    EXPECT_EQ(static_cast<size_t>(src_pcx_end - src_pcx_start), row.data_size) << row.name;
    if (row.palette) {
      EXPECT_EQ(Bytes(src_image.palette, src_image.palette + 768), Bytes(row.file.end() - 768, row.file.end()));
    }
  }
  release_image();
}

struct DecodeRow {
  const char* name;
  Bytes data;
  uint16_t stride, height;
  Bytes pixels;  // the whole buffer after decoding
};

TEST(Decoder, BytesToPixels) {
  const std::vector<DecodeRow> rows = {
      {"plain bytes", {0x00, 0x01, 0x7f, 0xbf}, 2, 2, {0x00, 0x01, 0x7f, 0xbf}},
      {"run of one", {0xc1, 0x05, 0x09, 0x09}, 2, 2, {0x05, 0x09, 0x09, 0x00}},
      {"run of 63", {0xff, 0x07}, 32, 2, join({repeat(63, 7), {0}})},
      {"count 0 stores nothing", {0xc0, 0x44, 0x01, 0x02}, 2, 2, {0x01, 0x02, 0x00, 0x00}},
      {"values of 192 and more", {0xc1, 0xc8, 0xc2, 0xff, 0xc1, 0xc0}, 2, 2, {0xc8, 0xff, 0xff, 0xc0}},
      {"count as the last byte", {0x01, 0xc5}, 2, 2, {0x01, 0x00, 0x00, 0x00}},
      {"run cut at the end", {0x01, 0xc9, 0x03, 0x04}, 2, 2, {0x01, 0x03, 0x03, 0x03}},
      {"data after a full buffer", {0x01, 0x02, 0x03, 0x04, 0x05, 0xc3, 0x06}, 2, 2, {0x01, 0x02, 0x03, 0x04}},
      {"short data leaves zeros", {0x08}, 2, 3, {0x08, 0, 0, 0, 0, 0}},
      {"short data after a run", {0xc3, 0x05}, 2, 3, {0x05, 0x05, 0x05, 0, 0, 0}},
      {"short data after a long run", {0x01, 0xfe, 0x05}, 40, 3, join({{0x01}, repeat(62, 5), repeat(57, 0)})},
      {"run across rows",
       {0x01, 0x02, 0x03, 0x04, 0xca, 0x09},
       8,
       2,
       {0x01, 0x02, 0x03, 0x04, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x00, 0x00}},
  };
  for (const DecodeRow& row : rows) {
    Pcx pcx;
    pcx.xmax = 1;
    pcx.ymax = static_cast<uint16_t>(row.height - 1);
    pcx.stride = row.stride;
    pcx.data = row.data;
    ASSERT_TRUE(load_pcx(build_pcx(pcx))) << row.name;
    ASSERT_TRUE(decode_src_pcx()) << row.name;
    EXPECT_EQ(Bytes(src_image.pixels, src_image.pixels + row.pixels.size()), row.pixels) << row.name;
  }
  release_image();
}

// The palette bytes are never decoded, even when the data is too short.
TEST(Decoder, StopsAtThePaletteMarker) {
  Pcx pcx = image(16, 16);
  pcx.data = {0x03};
  ASSERT_TRUE(load_pcx(build_pcx(pcx)));
  ASSERT_TRUE(decode_src_pcx());
  EXPECT_EQ(Bytes(src_image.pixels, src_image.pixels + 256), join({{0x03}, repeat(255, 0)}));
  release_image();
}

// Any image the encoder writes comes back pixel for pixel, padding included.
TEST(Decoder, RoundTripsSeededImages) {
  srand(2026);
  for (int round = 0; round < 200; ++round) {
    uint32_t width = 2 + static_cast<uint32_t>(rand()) % 510;
    uint32_t height = 2 + static_cast<uint32_t>(rand()) % 255;
    uint32_t stride = width + static_cast<uint32_t>(rand()) % 3;
    Bytes pixels(stride * height);
    uint8_t value = 0;
    for (uint8_t& pixel : pixels) {
      if (rand() % 4 == 0) value = static_cast<uint8_t>(rand());
      pixel = value;
    }
    ASSERT_TRUE(load_pcx(build_pcx(pcx_of(pixels, width, height, stride))));
    ASSERT_TRUE(decode_src_pcx());
    ASSERT_EQ(Bytes(src_image.pixels, src_image.pixels + pixels.size()), pixels) << width << "x" << height;
  }
  release_image();
}

}  // namespace
