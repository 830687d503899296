#include "drawer_cases.h"

#include <cstdlib>

#include "modex/vgamodel.h"

Bytes paint(Kind kind, uint32_t width, uint32_t height, unsigned seed) {
  srand(seed);
  Bytes pixels(width * height);
  uint8_t value = 0;
  for (uint32_t at = 0; at < pixels.size(); ++at) {
    // Column by column, so that runs lie along the strips.
    uint8_t& pixel = pixels[at % height * width + at / height];
    if (kind == noise) value = static_cast<uint8_t>(1 + rand() % 254);
    if (kind == sparse) value = rand() % 300 ? 0 : static_cast<uint8_t>(1 + rand() % 254);
    if (kind == runs && rand() % 5 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    if (kind == bands && rand() % 25 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    pixel = value;
  }
  return pixels;
}

std::vector<DrawCase> draw_cases() {
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, page2 = {19200, 80, 0, 0, 320, 240, 0};
  const kob_target window = {0, 80, 17, 9, 250, 201, 0}, wide = {40000, 128, 0, 0, 512, 200, 0};
  const kob_target selected = {0, 80, 0, 0, 320, 240, 4};     // plane 2 selected before
  const kob_target beyond = {19200, 80, -6, -9, 100, 60, 0};  // edges left of and above the page
  const kob_target last = {57600, 80, 0, 0, 320, 240, 0};     // rows from 100 on wrap to the plane's start
  std::vector<DrawCase> cases = {
      {runs, 37, 23, 100, 100, screen},        {runs, 37, 23, 101, 100, selected}, {runs, 37, 23, 102, 100, screen},
      {runs, 37, 23, 103, 100, screen},        {noise, 40, 255, 140, -15, screen}, {noise, 41, 254, 141, 0, page2},
      {sparse, 200, 255, 50, -10, screen},     {sparse, 201, 255, 51, 0, window},  {runs, 60, 60, -45, -45, screen},
      {runs, 60, 60, 290, 215, screen},        {runs, 64, 64, -48, -48, screen},   {runs, 64, 64, 230, 170, window},
      {noise, 9, 130, 5, 100, window},         {runs, 2, 2, 318, 238, screen},     {runs, 2, 2, -1, -1, screen},
      {runs, 37, 23, -37, 0, screen},          {runs, 37, 23, 320, 10, screen},    {runs, 37, 23, 5, -23, screen},
      {runs, 37, 23, 5, 240, screen},          {runs, 200, 64, 400, 20, wide},     {noise, 80, 100, 210, -30, wide},
      {runs, 100, 200, -32767, 32767, screen}, {runs, 300, 100, 10, 70, page2},    {runs, 30, 30, 100, 100, screen},
      {runs, 37, 23, -7, -5, beyond},          {bands, 64, 200, 10, -37, screen},  {bands, 64, 200, 11, 100, screen},
      {bands, 50, 120, 30, 30, wide},          {runs, 37, 23, 10, 90, last},       {noise, 41, 60, 301, 70, last},
  };
  for (unsigned seed = 0; seed < 16; ++seed) {
    srand(500 + seed);
    Kind kind = static_cast<Kind>(seed % 3);
    uint32_t width = 2 + rand() % (kind == noise ? 120 : 300), height = 2 + rand() % 254;
    cases.push_back({kind, width, height, rand() % 500 - 250, rand() % 400 - 200, seed % 2 ? window : screen});
  }
  return cases;
}

const char* mode_name(Mode mode) { return mode == plain ? "plain" : mode == mirrored ? "mirrored" : "strip by strip"; }

std::vector<unsigned> plane_order(int x, unsigned width) {
  std::vector<unsigned> order;
  for (int plane = 0; plane < 4; ++plane)
    for (unsigned column = 0; column < width; ++column)
      if (((x + static_cast<int>(column)) & 3) == plane) order.push_back(column);
  return order;
}

Drawn drawn(unsigned mask) {
  return {Bytes(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane), vga.stores, vga.overwrites, vga.selects, mask};
}

Drawn draw_here(const kob_sprite& sprite, const DrawCase& c, Mode mode) {
  kob_target target = c.clip;
  vga_model_reset(255);
  kob_map_mask = c.clip.mask;
  if (mode == strip_by_strip) {
    for (unsigned column : plane_order(c.x, c.width))
      kob_draw_strip(&target, sprite.data + sprite.strip[column], c.height, c.x + static_cast<int>(column), c.y);
  } else {
    (mode == plain ? kob_draw : kob_draw_mirrored)(&target, &sprite, c.x, c.y);
  }
  return drawn(kob_map_mask);
}
