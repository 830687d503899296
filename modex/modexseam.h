/* The platform seam of modex.c: the only ways it reaches the hardware.
 *
 *   MODEX_OUT(port, value)            write a byte to an I/O port
 *   MODEX_IN(port)                    read a byte from an I/O port
 *   MODEX_SET_MODE(mode)              set a BIOS video mode (INT 10h, AH 0)
 *   MODEX_LOAD(offset)                read the byte at `offset` of video
 *                                     memory (segment A000h), which also
 *                                     loads the four latches
 *   MODEX_FILL(offset, count, value)  store `value` into `count` bytes from
 *                                     `offset` of video memory, up to 65,536
 *   MODEX_COPY(from, to, count)       copy `count` bytes of video memory
 *                                     upwards, a load then a store each
 *   MODEX_TICKS()                     the BIOS's timer ticks, the unsigned
 *                                     long at 0040:006Ch
 *
 * Define all seven before compiling modex.c to bring your own; defining only
 * some is an error, since the default would quietly replace the rest.
 * Otherwise the host model (KOB_HOST_MODEL, for the tests), dev86 bcc's
 * assembly in modex.c, or the 32-bit flat seam (MODEX_FLAT32, any i386 gcc;
 * DJGPP's gcc takes it by itself)
 * is used; other compilers bring their own.
 *
 * The 32-bit flat seam reaches the ports through gcc's inline assembly, the
 * BIOS through an INT 10h that the DOS extender reflects to real mode, and
 * video memory and the BIOS's tick count, in the same first megabyte, through
 * modex_vram (modex.h). Offsets wrap within the 64 KiB
 * of a plane, as they do in a 16-bit segment.
 */
#ifndef MODEXSEAM_H
#define MODEXSEAM_H

#if defined(MODEX_OUT) || defined(MODEX_IN) || defined(MODEX_SET_MODE) || defined(MODEX_LOAD) || \
    defined(MODEX_FILL) || defined(MODEX_COPY) || defined(MODEX_TICKS)
#ifndef MODEX_OUT
#error "modexseam.h: MODEX_OUT is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_IN
#error "modexseam.h: MODEX_IN is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_SET_MODE
#error "modexseam.h: MODEX_SET_MODE is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_LOAD
#error "modexseam.h: MODEX_LOAD is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_FILL
#error "modexseam.h: MODEX_FILL is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_COPY
#error "modexseam.h: MODEX_COPY is not defined: define all seven seam macros or none"
#endif
#ifndef MODEX_TICKS
#error "modexseam.h: MODEX_TICKS is not defined: define all seven seam macros or none"
#endif
/* the engine's own */

#elif defined(KOB_HOST_MODEL)
/* The in-memory VGA of vgamodel.c, for tests on the build machine. */
#include "vgamodel.h"
#define MODEX_OUT(port, value) vga_model_out(port, value)
#define MODEX_IN(port) vga_model_in(port)
#define MODEX_SET_MODE(mode) vga_model_set_mode(mode)
#define MODEX_LOAD(offset) vga_model_load(offset)
#define MODEX_FILL(offset, count, value) vga_model_fill(offset, count, value)
#define MODEX_COPY(from, to, count) vga_model_copy(from, to, count)
#define MODEX_TICKS() vga_model_ticks()

#elif defined(__BCC__) && defined(__MSDOS__)
/* dev86 bcc, small .COM model: small assembly routines in modex.c. */
void modex_bcc_out(unsigned port, unsigned value);
unsigned modex_bcc_in(unsigned port);
void modex_bcc_set_mode(unsigned mode);
unsigned modex_bcc_load(unsigned offset);
void modex_bcc_fill(unsigned offset, unsigned count, unsigned value);
void modex_bcc_copy(unsigned from, unsigned to, unsigned count);
unsigned long modex_bcc_ticks(void);
#define MODEX_OUT(port, value) modex_bcc_out(port, value)
#define MODEX_IN(port) modex_bcc_in(port)
#define MODEX_SET_MODE(mode) modex_bcc_set_mode(mode)
#define MODEX_LOAD(offset) modex_bcc_load(offset)
#define MODEX_FILL(offset, count, value) modex_bcc_fill(offset, count, value)
#define MODEX_COPY(from, to, count) modex_bcc_copy(from, to, count)
#define MODEX_TICKS() modex_bcc_ticks()
#define MODEX_BCC_SEAM

#elif defined(MODEX_FLAT32)
/* 32-bit flat protected mode, any i386 gcc: small routines in modex.c. */
void modex_flat_out(unsigned port, unsigned value);
unsigned modex_flat_in(unsigned port);
void modex_flat_set_mode(unsigned mode);
void modex_flat_copy(unsigned from, unsigned to, unsigned count);
#define MODEX_OUT(port, value) modex_flat_out(port, value)
#define MODEX_IN(port) modex_flat_in(port)
#define MODEX_SET_MODE(mode) modex_flat_set_mode(mode)
#define MODEX_LOAD(offset) (((volatile unsigned char *)modex_vram)[(offset)&MODEX_PLANE_MASK])
#define MODEX_FILL(offset, count, value) memset(modex_vram + ((offset)&MODEX_PLANE_MASK), (int)(value), (count))
#define MODEX_COPY(from, to, count) modex_flat_copy(from, to, count)
#define MODEX_TICKS() (*(volatile unsigned long *)(modex_vram + (BIOS_TICKS - 0xA0000L)))
#define MODEX_FLAT32_SEAM

#else
#error \
    "modexseam.h: define MODEX_OUT, MODEX_IN, MODEX_SET_MODE, MODEX_LOAD, MODEX_FILL, MODEX_COPY and MODEX_TICKS for this compiler"
#endif

#endif
