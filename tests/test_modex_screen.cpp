// The Mode X screen functions on the in-memory VGA: the mode as its
// registers make it, page flipping against the retrace, the DAC, and video
// memory filled, copied and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "modex/kob.h"
#include "modex/modex.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

// Each plane's bytes at [offset, offset + count), as one string per plane.
std::vector<Bytes> planes_at(unsigned long offset, unsigned long count) {
  std::vector<Bytes> out;
  for (auto& plane : vga.plane) out.emplace_back(plane + offset, plane + offset + count);
  return out;
}

// The mode as a monitor sees it, worked out from the registers; from the
// BIOS's mode 13h (400 lines, 70 Hz) and from text mode.
TEST(ModexScreen, EntersMode320x240At60Hz) {
  for (unsigned before : {0x13u, 0x03u}) {
    patterned_vga();
    vga_model_set_mode(before);
    modex_enter();
    SCOPED_TRACE(before);
    const unsigned char* crtc = vga.crtc;
    unsigned overflow = crtc[7];
    unsigned vertical_total = (crtc[6] | (overflow & 1) << 8 | (overflow & 0x20) << 4) + 2;
    unsigned display_lines = (crtc[0x12] | (overflow & 2) << 7 | (overflow & 0x40) << 3) + 1;
    unsigned lines_per_row = (crtc[9] & 0x1F) + 1;
    unsigned dots_per_line = (crtc[0] + 5) * 8;
    unsigned width = (crtc[1] + 1) * 4;  // two dots a pixel in 256 colours
    double dot_clock = (vga.misc_output >> 2 & 3) == 0 ? 25.175e6 : 28.322e6;
    double refresh = dot_clock / dots_per_line / vertical_total;
    EXPECT_EQ(std::make_tuple(vga.mode, display_lines, lines_per_row, width, crtc[0x13] * 2),
              std::make_tuple(0x13u, 480u, 2u, unsigned{MODEX_WIDTH}, MODEX_PITCH));
    // The VGA's own 480-line timing: 525 lines of 800 dots.
    EXPECT_EQ(std::make_tuple(vertical_total, dots_per_line), std::make_tuple(525u, 800u));
    EXPECT_NEAR(refresh, 59.94, 0.01);
    // Unchained and addressed byte by byte, the CRTC registers locked again.
    EXPECT_EQ(vga.sequencer[4] & 0x08, 0);
    EXPECT_EQ(vga.crtc[0x14] & 0x40, 0);
    EXPECT_EQ(vga.crtc[0x17] & 0x40, 0x40);
    EXPECT_EQ(vga.crtc[0x11] & 0x80, 0x80);
    EXPECT_EQ(std::make_tuple(vga.crtc[0x0C], vga.crtc[0x0D], vga.mask, vga.graphics[5] & 3),
              std::make_tuple(0, 0, 0x0Fu, 0));
    EXPECT_EQ(planes_at(0, VGA_PLANE_SIZE), std::vector<Bytes>(VGA_PLANES, Bytes(VGA_PLANE_SIZE, 0)));
  }
  modex_leave();
  EXPECT_EQ(vga.mode, 0x03u);
}

// Whether the model's `phase`-th status read sees a retrace begin: a call
// whose first read it is finds that retrace under way and lets it go by.
bool begins_at(unsigned phase) { return phase % VGA_FRAME_READS == VGA_DISPLAY_READS; }

// Rows (offset, reads into the frame when called): the start address taken
// at the next retrace start is the offset, written while the display was
// active, and the call returns as that retrace begins.
TEST(ModexScreen, ShowsAPageFromTheNextFrame) {
  const std::vector<std::tuple<unsigned, unsigned>> rows = {
      {MODEX_PAGE_BYTES, 0},           {2 * MODEX_PAGE_BYTES, VGA_DISPLAY_READS - 1},
      {0, VGA_DISPLAY_READS},          {1, VGA_FRAME_READS - 1},
      {0xFFFF, VGA_DISPLAY_READS + 1}, {0x1234, 2},
  };
  for (const auto& [offset, phase] : rows) {
    SCOPED_TRACE(::testing::Message() << offset << " from " << phase);
    patterned_vga(phase);
    unsigned long retraces = vga.retraces;
    modex_show(offset);
    EXPECT_EQ(std::make_tuple(vga.shown, vga.late_starts, vga.retraces - retraces),
              std::make_tuple(offset, 0ul, 1ul + begins_at(phase)));
    // Returned at the retrace's start: the reads so far end on its first.
    EXPECT_EQ((vga.status_reads - 1) % VGA_FRAME_READS, static_cast<unsigned long>(VGA_DISPLAY_READS));
  }
}

// Rows (timer counts spent before the call, frames it returns), in turn from
// modex_enter: a call that comes before the next retrace has one frame
// passed, a late one the retraces it missed and one; late by more than a
// BIOS tick (65,536 counts) and by minutes too. The model's status reads take
// time too: a call returns one read after its retrace began.
TEST(ModexScreen, CountsTheFramesSinceTheLastShow) {
  const long frame = VGA_FRAME_READS * VGA_READ_COUNTS;
  const std::vector<std::tuple<unsigned long, unsigned>> rows = {
      {0, 1},
      {0, 1},
      {frame / 2, 1},
      {frame - 3000, 1},
      {frame + 200, 2},
      {5 * frame / 2, 3},
      {17 * frame / 5, 4},
      {100 * frame + frame / 5, 101},
      {0, 1},
      {3000 * frame + frame / 2, 3001},
      {70000 * frame, 65535},
  };
  patterned_vga();
  modex_enter();
  for (const auto& [spent, frames] : rows) {
    SCOPED_TRACE(spent);
    vga.clock += spent;
    EXPECT_EQ(modex_show(MODEX_PAGE_BYTES), frames);
  }
}

// From every point of a frame, the wait ends on the first read of the next
// retrace, never inside one already under way.
TEST(ModexScreen, WaitsForTheStartOfTheNextRetrace) {
  for (unsigned phase = 0; phase < 2 * VGA_FRAME_READS; ++phase) {
    SCOPED_TRACE(phase);
    patterned_vga(phase);
    unsigned long retraces = vga.retraces;
    modex_wait_retrace();
    EXPECT_EQ(vga.retraces - retraces, 1ul + begins_at(phase));
    EXPECT_EQ((vga.status_reads - 1) % VGA_FRAME_READS, static_cast<unsigned long>(VGA_DISPLAY_READS));
  }
}

// Rows (first, count): those entries get the 8-bit components shifted to
// the DAC's 6 bits, every other entry keeps what it had; reading them back
// gives the components with their two low bits 0, and nothing past them.
TEST(ModexScreen, LoadsThePaletteShiftedForTheDac) {
  const std::vector<std::tuple<unsigned, unsigned>> rows = {{0, 256}, {255, 1}, {16, 16}, {7, 0}, {0, 1}};
  Bytes rgb(MODEX_PALETTE_SIZE);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 97 + 13);
  for (const auto& [first, count] : rows) {
    SCOPED_TRACE(::testing::Message() << first << " + " << count);
    patterned_vga();
    memset(vga.dac, 0x2A, sizeof vga.dac);
    modex_set_palette(rgb.data(), first, count);
    for (unsigned entry = 0; entry < VGA_COLOURS; ++entry) {
      for (unsigned c = 0; c < 3; ++c) {
        bool loaded = entry >= first && entry < first + count;
        ASSERT_EQ(vga.dac[entry][c], loaded ? rgb[(entry - first) * 3 + c] >> 2 : 0x2A) << entry << "." << c;
      }
    }
    Bytes back(MODEX_PALETTE_SIZE, 0x55);
    modex_get_palette(back.data(), first, count);
    for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], i < 3 * count ? rgb[i] & 0xFC : 0x55) << i;
  }
}

// Rows (offset, count, colour): that range of every plane holds the colour,
// whatever the map mask was, and nothing else changed.
TEST(ModexScreen, FillsEveryPlane) {
  const std::vector<std::tuple<unsigned, unsigned, unsigned>> rows = {
      {0, MODEX_PAGE_BYTES, 7},
      {MODEX_PAGE_BYTES, MODEX_PAGE_BYTES, 0},
      {MODEX_FREE_OFFSET, 65536 - MODEX_FREE_OFFSET, 200},
      {65535, 1, 1},
      {101, 0, 9},
      {3, 8, 255},
      {0x8000, 0x8000, 4},
  };
  for (const auto& [offset, count, colour] : rows) {
    SCOPED_TRACE(::testing::Message() << offset << " + " << count);
    patterned_vga();
    vga_model_select(0x02);
    auto expected = planes_at(0, VGA_PLANE_SIZE);
    for (auto& plane : expected) std::fill_n(plane.begin() + offset, count, static_cast<uint8_t>(colour));
    modex_fill(offset, count, colour);
    EXPECT_EQ(planes_at(0, VGA_PLANE_SIZE), expected);
  }
}

// Rows (from, to, count): all four planes of the range copied, the rest
// untouched; the map mask and the graphics mode's other bits as they were
// left, write mode 0 again, so that plain stores work afterwards.
TEST(ModexScreen, CopiesThroughTheLatches) {
  const std::vector<std::tuple<unsigned, unsigned, unsigned>> rows = {
      {0, MODEX_PAGE_BYTES, MODEX_PAGE_BYTES},
      {MODEX_FREE_OFFSET, 2 * MODEX_PAGE_BYTES + 80 * 17 + 5, 12},
      {2 * MODEX_PAGE_BYTES, 0, MODEX_PAGE_BYTES},
      {0, 65535, 1},
      {65535 - 99, 0, 100},
      {500, 600, 0},
  };
  for (const auto& [from, to, count] : rows) {
    SCOPED_TRACE(::testing::Message() << from << " -> " << to << " x " << count);
    patterned_vga();
    vga_model_select(0x01);
    auto expected = planes_at(0, VGA_PLANE_SIZE);
    for (unsigned p = 0; p < VGA_PLANES; ++p) std::copy_n(vga.plane[p] + from, count, expected[p].begin() + to);
    modex_copy(from, to, count);
    EXPECT_EQ(planes_at(0, VGA_PLANE_SIZE), expected);
    EXPECT_EQ(std::make_tuple(vga.graphics[5], vga.mask), std::make_tuple(0x40, 0x0Fu));
    vga_model_store(to, 0x5A);
    EXPECT_EQ(vga.plane[3][to], 0x5A);
  }
}

// Rows (page, y): the 320 pixels of the row, x from 0, as the planes hold
// them interleaved.
TEST(ModexScreen, ReadsARowBack) {
  const std::vector<std::tuple<unsigned, unsigned>> rows = {
      {0, 0}, {0, 239}, {MODEX_PAGE_BYTES, 100}, {2 * MODEX_PAGE_BYTES, 239}, {MODEX_FREE_OFFSET, 5}, {7, 31},
  };
  for (const auto& [page, y] : rows) {
    SCOPED_TRACE(::testing::Message() << page << ", " << y);
    patterned_vga();
    Bytes row(MODEX_WIDTH + 1, 0xEE);
    modex_read_row(page, y, row.data());
    Bytes expected;
    for (unsigned x = 0; x < MODEX_WIDTH; ++x) expected.push_back(vga.plane[x % 4][(page + y * 80 + x / 4) % 65536]);
    expected.push_back(0xEE);
    EXPECT_EQ(row, expected);
  }
}

// Rows (page, y) written from 320 pixels, colour 0 among them: read back the
// same, every other byte of the planes as it was, the map mask recorded for
// the drawers.
TEST(ModexScreen, WritesARowOpaque) {
  const std::vector<std::tuple<unsigned, unsigned>> rows = {
      {0, 0}, {0, 239}, {MODEX_PAGE_BYTES, 100}, {2 * MODEX_PAGE_BYTES, 239}, {MODEX_FREE_OFFSET, 5}, {7, 31},
  };
  Bytes pixels(MODEX_WIDTH);
  for (unsigned x = 0; x < MODEX_WIDTH; ++x) pixels[x] = static_cast<uint8_t>(x % 3 ? x * 13 : 0);
  for (const auto& [page, y] : rows) {
    SCOPED_TRACE(::testing::Message() << page << ", " << y);
    patterned_vga();
    std::vector<Bytes> before = planes_at(0, VGA_PLANE_SIZE);
    modex_write_row(page, y, pixels.data());
    Bytes back(MODEX_WIDTH);
    modex_read_row(page, y, back.data());
    EXPECT_EQ(back, pixels);
    for (unsigned x = 0; x < MODEX_WIDTH; ++x) before[x % 4][(page + y * 80 + x / 4) % 65536] = pixels[x];
    EXPECT_TRUE(planes_at(0, VGA_PLANE_SIZE) == before);
    EXPECT_EQ(std::make_tuple(kob_map_mask, vga.mask), std::make_tuple(8u, 8u));
  }
}

}  // namespace
