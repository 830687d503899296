/* An in-memory VGA in Mode X for tests and benchmarks on the build machine:
 * four 64 KiB planes, the registers the library programs, the latches, the
 * DAC and a vertical retrace that comes and goes as the input status is
 * read, with counts of what the drawing code did; and the PC's timer, as
 * the BIOS runs it, on the same clock as the retrace. */
#ifndef VGAMODEL_H
#define VGAMODEL_H

#ifdef __cplusplus
extern "C" {
#endif

#define VGA_PLANES 4
#define VGA_PLANE_SIZE 65536L
#define VGA_COLOURS 256
#define VGA_SEQUENCER_REGISTERS 5
#define VGA_GRAPHICS_REGISTERS 9
#define VGA_CRTC_REGISTERS 25
/* The input status alternates: VGA_DISPLAY_READS reads of the display, then
 * VGA_RETRACE_READS of the vertical retrace. */
#define VGA_DISPLAY_READS 5
#define VGA_RETRACE_READS 3
#define VGA_FRAME_READS (VGA_DISPLAY_READS + VGA_RETRACE_READS)
/* Each read of the input status takes this many timer counts: a frame is
 * 19,904 of them, within 2 of the VGA's. */
#define VGA_READ_COUNTS 2488L

struct vga_model {
  unsigned char plane[VGA_PLANES][VGA_PLANE_SIZE];
  unsigned mask;                                     /* the map mask: bit p enables plane p */
  unsigned long stores;                              /* KOB_STORE calls */
  unsigned long selects;                             /* writes of the map mask */
  unsigned long overwrites;                          /* bytes stored where this model already had a store */
  unsigned char written[VGA_PLANES][VGA_PLANE_SIZE]; /* 1 where a store landed */

  unsigned mode;                                    /* the BIOS mode last set */
  unsigned char sequencer[VGA_SEQUENCER_REGISTERS]; /* index 2 mirrors `mask` */
  unsigned char graphics[VGA_GRAPHICS_REGISTERS];
  unsigned char crtc[VGA_CRTC_REGISTERS];
  unsigned char misc_output;
  unsigned sequencer_index, graphics_index, crtc_index;
  unsigned char latch[VGA_PLANES];   /* loaded by every read of video memory */
  unsigned char dac[VGA_COLOURS][3]; /* 6-bit red, green, blue */
  unsigned dac_write;                /* the component the next DAC data write sets */
  unsigned dac_read;                 /* and the one the next DAC data read returns */
  unsigned long status_reads;        /* of the input status; the retrace follows them */
  unsigned long retraces;            /* retrace starts seen */
  unsigned shown;                    /* the start address taken at the last retrace start */
  unsigned long late_starts;         /* start address bytes written during a retrace */

  unsigned long clock;          /* timer counts since the reset: a test adds to it for time spent drawing */
  unsigned long read_at;        /* the clock at the last status read */
  unsigned char timer_latch[3]; /* channel 0's status and count, latched by a read-back */
  unsigned timer_reads;         /* latched bytes read so far */
};

/* The one VGA the seam drives. */
extern struct vga_model vga;

/* Fills every plane with `colour`, sets the map mask to 0 and clears the
 * counts, the registers and the DAC; kob_map_mask too, as on a VGA the
 * library has not selected planes on. */
void vga_model_reset(unsigned colour);

void vga_model_select(unsigned mask);
void vga_model_store(unsigned offset, unsigned value);

/* The ports, the BIOS mode set and string operations, as modexseam.h uses
 * them. A mode set loads the mode's registers and clears no memory. */
void vga_model_out(unsigned port, unsigned value);
unsigned vga_model_in(unsigned port);
void vga_model_set_mode(unsigned mode);
unsigned vga_model_load(unsigned offset);
/* The BIOS's timer ticks: one each PIT_PERIOD counts of the clock. */
unsigned long vga_model_ticks(void);
void vga_model_fill(unsigned offset, unsigned count, unsigned value);
void vga_model_copy(unsigned from, unsigned to, unsigned count);

/* The colour index of pixel (x, y) of the page at `page`, `pitch` bytes per
 * plane row. */
unsigned vga_model_pixel(unsigned page, unsigned pitch, unsigned x, unsigned y);

/* The plane bytes stores have reached since the last reset. */
unsigned long vga_model_bytes_written(void);

#ifdef __cplusplus
}
#endif

#endif
