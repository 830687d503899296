/* The in-memory VGA the host build's seams drive. */
#include "vgamodel.h"

#include <string.h>

#include "kob.h"
#include "vgaregs.h"

struct vga_model vga;

#define STATUS_RETRACE (VGA_VERTICAL_RETRACE | VGA_DISPLAY_DISABLED)

/* The registers the BIOS loads for each mode the library sets. */
struct vga_mode {
  unsigned number;
  unsigned char misc_output;
  unsigned char sequencer[VGA_SEQUENCER_REGISTERS];
  unsigned char graphics[VGA_GRAPHICS_REGISTERS];
  unsigned char crtc[VGA_CRTC_REGISTERS];
};

static const struct vga_mode modes[] = {
    {0x03,
     0x67,
     {0x03, 0x00, 0x03, 0x00, 0x02},
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0xFF},
     {0x5F, 0x4F, 0x50, 0x82, 0x55, 0x81, 0xBF, 0x1F, 0x00, 0x4F, 0x0D, 0x0E, 0x00,
      0x00, 0x00, 0x00, 0x9C, 0x8E, 0x8F, 0x28, 0x1F, 0x96, 0xB9, 0xA3, 0xFF}},
    {0x13,
     0x63,
     {0x03, 0x01, 0x0F, 0x00, 0x0E},
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x05, 0x0F, 0xFF},
     {0x5F, 0x4F, 0x50, 0x82, 0x54, 0x80, 0xBF, 0x1F, 0x00, 0x41, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x9C, 0x8E, 0x8F, 0x28, 0x40, 0x96, 0xB9, 0xA3, 0xFF}},
};

void vga_model_reset(unsigned colour) {
  memset(&vga, 0, sizeof vga);
  memset(vga.plane, (int)colour, sizeof vga.plane);
  kob_map_mask = 0; /* a new VGA: what the library selected is gone */
}

void vga_model_select(unsigned mask) {
  vga.mask = mask & 0x0F;
  vga.sequencer[VGA_MAP_MASK] = (unsigned char)vga.mask;
  ++vga.selects;
}

/* A store in the graphics mode's write mode, the offset wrapping within the
 * 64 KiB of each plane as on the VGA: 0 puts the byte in every plane
 * the map mask enables, 1 puts the latches there. */
static void put(unsigned long offset, unsigned value) {
  unsigned p;
  unsigned long at = offset % VGA_PLANE_SIZE;
  int latches = (vga.graphics[VGA_GRAPHICS_MODE] & VGA_WRITE_MODE_BITS) == 1;
  for (p = 0; p < VGA_PLANES; ++p) {
    if (vga.mask & (1u << p)) {
      if (vga.written[p][at]) ++vga.overwrites;
      vga.written[p][at] = 1;
      vga.plane[p][at] = latches ? vga.latch[p] : (unsigned char)value;
    }
  }
}

void vga_model_store(unsigned offset, unsigned value) {
  ++vga.stores;
  put(offset, value);
}

#define FRAME_COUNTS (VGA_FRAME_READS * VGA_READ_COUNTS)
#define DISPLAY_COUNTS (VGA_DISPLAY_READS * VGA_READ_COUNTS)

static int in_retrace(unsigned long clock) { return clock % FRAME_COUNTS >= DISPLAY_COUNTS; }

/* Retrace starts from the reset up to `clock`. */
static unsigned long retraces_by(unsigned long clock) { return (clock + FRAME_COUNTS - DISPLAY_COUNTS) / FRAME_COUNTS; }

static void write_crtc(unsigned value) {
  if (vga.crtc_index >= VGA_CRTC_REGISTERS) return;
  if ((vga.crtc_index == VGA_START_HIGH || vga.crtc_index == VGA_START_LOW) && vga.status_reads > 0 &&
      in_retrace(vga.read_at)) {
    ++vga.late_starts;
  }
  vga.crtc[vga.crtc_index] = (unsigned char)value;
}

/* Channel 0 in mode 3 with the full count: its count falls from 65,536 (read
 * as 0) by 2 twice a period, the output high in the first half. */
static void latch_timer(void) {
  unsigned long phase = vga.clock % PIT_PERIOD;
  unsigned count = (unsigned)((PIT_PERIOD - 2 * (phase % (PIT_PERIOD / 2))) % PIT_PERIOD);
  vga.timer_latch[0] = (unsigned char)(0x36 | (phase < PIT_PERIOD / 2 ? PIT_OUTPUT : 0));
  vga.timer_latch[1] = (unsigned char)(count & 0xFF);
  vga.timer_latch[2] = (unsigned char)(count >> 8);
  vga.timer_reads = 0;
}

void vga_model_out(unsigned port, unsigned value) {
  value &= 0xFF;
  if (port == VGA_SEQUENCER) vga.sequencer_index = value;
  if (port == VGA_SEQUENCER + 1 && vga.sequencer_index < VGA_SEQUENCER_REGISTERS) {
    vga.sequencer[vga.sequencer_index] = (unsigned char)value;
  }
  if (port == VGA_SEQUENCER + 1 && vga.sequencer_index == VGA_MAP_MASK) vga_model_select(value);
  if (port == VGA_GRAPHICS) vga.graphics_index = value;
  if (port == VGA_GRAPHICS + 1 && vga.graphics_index < VGA_GRAPHICS_REGISTERS) {
    vga.graphics[vga.graphics_index] = (unsigned char)value;
  }
  if (port == VGA_CRTC) vga.crtc_index = value;
  if (port == VGA_CRTC + 1) write_crtc(value);
  if (port == VGA_MISC_OUTPUT) vga.misc_output = (unsigned char)value;
  if (port == VGA_DAC_WRITE_INDEX) vga.dac_write = value * 3;
  if (port == VGA_DAC_READ_INDEX) vga.dac_read = value * 3;
  if (port == VGA_DAC_DATA) {
    vga.dac[vga.dac_write / 3][vga.dac_write % 3] = (unsigned char)(value & 0x3F);
    vga.dac_write = (vga.dac_write + 1) % (VGA_COLOURS * 3);
  }
  if (port == PIT_COMMAND && value == PIT_READ_BACK_0) latch_timer();
}

/* The input status: each read moves the clock on; the start address is
 * taken when a retrace begins, and what the address is then stands for any
 * retrace passed since the read before. */
static unsigned read_status(void) {
  unsigned long now = vga.clock;
  ++vga.status_reads;
  vga.read_at = now;
  vga.clock += VGA_READ_COUNTS;
  if (retraces_by(now) > vga.retraces) {
    vga.retraces = retraces_by(now);
    vga.shown = (unsigned)vga.crtc[VGA_START_HIGH] << 8 | vga.crtc[VGA_START_LOW];
  }
  return in_retrace(now) ? STATUS_RETRACE : 0;
}

static unsigned read_timer(void) {
  unsigned value = vga.timer_latch[vga.timer_reads % 3];
  ++vga.timer_reads;
  return value;
}

static unsigned read_dac(void) {
  unsigned value = vga.dac[vga.dac_read / 3][vga.dac_read % 3];
  vga.dac_read = (vga.dac_read + 1) % (VGA_COLOURS * 3);
  return value;
}

unsigned vga_model_in(unsigned port) {
  if (port == VGA_SEQUENCER + 1 && vga.sequencer_index < VGA_SEQUENCER_REGISTERS) {
    return vga.sequencer[vga.sequencer_index];
  }
  if (port == VGA_GRAPHICS + 1 && vga.graphics_index < VGA_GRAPHICS_REGISTERS) return vga.graphics[vga.graphics_index];
  if (port == VGA_CRTC + 1 && vga.crtc_index < VGA_CRTC_REGISTERS) return vga.crtc[vga.crtc_index];
  if (port == VGA_INPUT_STATUS) return read_status();
  if (port == VGA_DAC_DATA) return read_dac();
  if (port == PIT_CHANNEL_0) return read_timer();
  return 0xFF;
}

void vga_model_set_mode(unsigned mode) {
  unsigned i;
  for (i = 0; i < sizeof modes / sizeof modes[0]; ++i) {
    if (modes[i].number != mode) continue;
    vga.mode = mode;
    vga.misc_output = modes[i].misc_output;
    memcpy(vga.sequencer, modes[i].sequencer, sizeof vga.sequencer);
    memcpy(vga.graphics, modes[i].graphics, sizeof vga.graphics);
    memcpy(vga.crtc, modes[i].crtc, sizeof vga.crtc);
    vga.mask = vga.sequencer[VGA_MAP_MASK];
  }
}

unsigned long vga_model_ticks(void) { return vga.clock / PIT_PERIOD; }

unsigned vga_model_load(unsigned offset) {
  unsigned p;
  unsigned long at = (unsigned long)offset % VGA_PLANE_SIZE;
  for (p = 0; p < VGA_PLANES; ++p) vga.latch[p] = vga.plane[p][at];
  return vga.plane[vga.graphics[VGA_READ_MAP_SELECT] & 3][at];
}

void vga_model_fill(unsigned offset, unsigned count, unsigned value) {
  unsigned long at;
  for (at = offset; at < (unsigned long)offset + count; ++at) put(at, value);
}

void vga_model_copy(unsigned from, unsigned to, unsigned count) {
  unsigned i;
  for (i = 0; i < count; ++i) put((unsigned long)to + i, vga_model_load(from + i));
}

unsigned vga_model_pixel(unsigned page, unsigned pitch, unsigned x, unsigned y) {
  unsigned long at = ((unsigned long)page + (unsigned long)y * pitch + x / 4) % VGA_PLANE_SIZE;
  return vga.plane[x % 4][at];
}

unsigned long vga_model_bytes_written(void) {
  unsigned long count = 0, at;
  unsigned p;
  for (p = 0; p < VGA_PLANES; ++p) {
    for (at = 0; at < VGA_PLANE_SIZE; ++at) count += vga.written[p][at];
  }
  return count;
}
