/* The VGA registers the library and the in-memory VGA know by name. An
 * index/data pair takes the register's index at its first port and the
 * value at the next.
 */
#ifndef VGAREGS_H
#define VGAREGS_H

/* Ports. */
#define VGA_SEQUENCER 0x3C4   /* index/data */
#define VGA_MISC_OUTPUT 0x3C2 /* write: clock and sync polarity */
#define VGA_GRAPHICS 0x3CE    /* index/data */
#define VGA_CRTC 0x3D4        /* index/data */
#define VGA_INPUT_STATUS 0x3DA
#define VGA_DAC_READ_INDEX 0x3C7
#define VGA_DAC_WRITE_INDEX 0x3C8
#define VGA_DAC_DATA 0x3C9 /* red, green, blue in turn, 6 bits each */

/* Sequencer registers. */
#define VGA_RESET 0
#define VGA_MAP_MASK 2 /* bit p enables plane p for writes */
#define VGA_MEMORY_MODE 4

/* Graphics controller registers. */
#define VGA_READ_MAP_SELECT 4 /* the plane reads come from */
#define VGA_GRAPHICS_MODE 5   /* bits 0-1: the write mode */
#define VGA_WRITE_MODE_BITS 3

/* CRTC registers. */
#define VGA_START_HIGH 0x0C /* display start address, high byte */
#define VGA_START_LOW 0x0D
#define VGA_VERTICAL_RETRACE_END 0x11 /* bit 7 write-protects registers 0-7 */

/* Input status bits. */
#define VGA_DISPLAY_DISABLED 1
#define VGA_VERTICAL_RETRACE 8

/* The PC's timer, which frames are timed by: the 8254's channel 0 as the
 * BIOS runs it (mode 3, the full count, one BIOS tick a period), counting
 * 1,193,182 times a second. In mode 3 the count falls by 2 twice a period,
 * the output high during the first half. */
#define PIT_CHANNEL_0 0x40
#define PIT_COMMAND 0x43
#define PIT_READ_BACK_0 0xC2 /* latch channel 0's status, then its count, for reading */
#define PIT_OUTPUT 0x80      /* status: the channel's output */
#define PIT_PERIOD 65536L    /* counts a BIOS tick */
#define BIOS_TICKS 0x46CL    /* the BIOS's tick count, 32 bits at 0040:006Ch */
/* Timer counts a frame of Mode X takes: 800 dots by 525 lines at 25.175 MHz. */
#define VGA_FRAME_COUNTS 19906L

#endif
