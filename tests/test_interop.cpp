// PCX files written by third-party tools decode to the pixels an independent
// decoder saw in them (the .pgm beside each, palette indices).
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "image.h"
#include "pcx/pcx.h"
#include "support.h"

namespace {

const std::string interop_dir = std::string(TEST_DATA_DIR) + "/interop";

std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  if (!listing) return names;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

struct Gray {
  uint32_t width = 0, height = 0;
  Bytes pixels;
};

Gray read_pgm(const std::string& path) {
  Gray image;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return image;
  unsigned maxval = 0;
  if (fscanf(f, "P5 %u %u %u", &image.width, &image.height, &maxval) == 3 && fgetc(f) != EOF) {
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    image.pixels.resize(fread(image.pixels.data(), 1, image.pixels.size(), f));
  }
  fclose(f);
  return image;
}

TEST(Interop, ThirdPartyFilesDecodeAsTheyDo) {
  std::vector<std::string> names = files_ending(interop_dir, ".pcx");
  ASSERT_GE(names.size(), 9u);
  for (const std::string& name : names) {
    Gray expected = read_pgm(interop_dir + "/" + name + ".pgm");
    ASSERT_EQ(expected.pixels.size(), static_cast<size_t>(expected.width) * expected.height) << name;
    Bytes file = read_bytes(interop_dir + "/" + name + ".pcx");
    ASSERT_TRUE(load_pcx(file)) << name;
    EXPECT_TRUE(src_image.has_palette) << name;
    ASSERT_EQ(src_image.width, expected.width) << name;
    ASSERT_EQ(src_image.height, expected.height) << name;
    ASSERT_TRUE(decode_src_pcx()) << name;
    Bytes decoded;
    for (uint32_t y = 0; y < src_image.height; ++y) {
      const uint8_t* row = src_image.pixels + y * src_image.stride;
      decoded.insert(decoded.end(), row, row + src_image.width);
    }
    EXPECT_EQ(decoded, expected.pixels) << name;
  }
  release_image();
}

}  // namespace
