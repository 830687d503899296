/* The in-memory VGA the host build's seam drives. */
#include "vgamodel.h"

#include <string.h>

struct vga_model vga;

void vga_model_reset(unsigned colour) {
  memset(vga.plane, (int)colour, sizeof vga.plane);
  memset(vga.written, 0, sizeof vga.written);
  vga.mask = 0;
  vga.stores = 0;
  vga.selects = 0;
  vga.overwrites = 0;
}

void vga_model_select(unsigned mask) {
  vga.mask = mask & 0x0F;
  ++vga.selects;
}

/* Like the VGA: the offset wraps within the 64 KiB of each plane, and the
 * byte lands in every plane the map mask enables. */
void vga_model_store(unsigned offset, unsigned value) {
  unsigned p;
  unsigned long at = (unsigned long)offset % VGA_PLANE_SIZE;
  ++vga.stores;
  for (p = 0; p < VGA_PLANES; ++p) {
    if (vga.mask & (1u << p)) {
      if (vga.written[p][at]) ++vga.overwrites;
      vga.written[p][at] = 1;
      vga.plane[p][at] = (unsigned char)value;
    }
  }
}

unsigned vga_model_pixel(unsigned page, unsigned pitch, unsigned x, unsigned y) {
  unsigned long at = ((unsigned long)page + (unsigned long)y * pitch + x / 4) % VGA_PLANE_SIZE;
  return vga.plane[x % 4][at];
}
