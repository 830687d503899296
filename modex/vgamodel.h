/* An in-memory VGA in Mode X for tests and benchmarks on the build machine:
 * four 64 KiB planes and the Sequencer Map Mask, with counts of what the
 * drawing code did to them. */
#ifndef VGAMODEL_H
#define VGAMODEL_H

#ifdef __cplusplus
extern "C" {
#endif

#define VGA_PLANES 4
#define VGA_PLANE_SIZE 65536L

struct vga_model {
  unsigned char plane[VGA_PLANES][VGA_PLANE_SIZE];
  unsigned mask;                                     /* the map mask: bit p enables plane p */
  unsigned long stores;                              /* KOB_STORE calls */
  unsigned long selects;                             /* KOB_SELECT_PLANES calls */
  unsigned long overwrites;                          /* bytes stored where this model already had a store */
  unsigned char written[VGA_PLANES][VGA_PLANE_SIZE]; /* 1 where a store landed */
};

/* The one VGA the seam drives. */
extern struct vga_model vga;

/* Fills every plane with `colour`, sets the map mask to 0 and clears the
 * counts. */
void vga_model_reset(unsigned colour);

void vga_model_select(unsigned mask);
void vga_model_store(unsigned offset, unsigned value);

/* The colour index of pixel (x, y) of the page at `page`, `pitch` bytes per
 * plane row. */
unsigned vga_model_pixel(unsigned page, unsigned pitch, unsigned x, unsigned y);

#ifdef __cplusplus
}
#endif

#endif
