/* The platform seam: the only two ways kobdraw.c touches the VGA.
 *
 *   KOB_SELECT_PLANES(mask)   write the Sequencer Map Mask (port 3C4h,
 *                             index 2): bit p enables plane p
 *   KOB_STORE(offset, value)  store one byte at `offset` of video memory
 *                             (segment A000h) in the selected planes
 *
 * Define both before compiling kobdraw.c to use your own (an engine that keeps
 * video memory behind a pointer of its own, for instance). Otherwise one of
 * the defaults below is used, each built and tested here: the host model
 * (gcc, clang), dev86 bcc (in DOSBox) and the 32-bit flat seam (define
 * MODEX_FLAT32 with any i386 gcc; on an emulated 386). Any other compiler
 * must bring its own. Defining only one of the two is an error: the default
 * would quietly replace both.
 */
#ifndef KOBSEAM_H
#define KOBSEAM_H

#if defined(KOB_SELECT_PLANES) && !defined(KOB_STORE)
#error "kobseam.h: KOB_SELECT_PLANES is defined but KOB_STORE is not: define both or neither"
#elif defined(KOB_STORE) && !defined(KOB_SELECT_PLANES)
#error "kobseam.h: KOB_STORE is defined but KOB_SELECT_PLANES is not: define both or neither"
#elif defined(KOB_SELECT_PLANES)
/* the engine's own */

#elif defined(KOB_HOST_MODEL)
/* The in-memory VGA of vgamodel.c, for tests on the build machine. */
#include "vgamodel.h"
#define KOB_SELECT_PLANES(mask) vga_model_select(mask)
#define KOB_STORE(offset, value) vga_model_store(offset, value)

#elif defined(__BCC__) && defined(__MSDOS__)
/* dev86 bcc, small .COM model: two tiny assembly routines in kobdraw.c. */
void kob_bcc_select(unsigned mask);
void kob_bcc_store(unsigned offset, unsigned value);
#define KOB_SELECT_PLANES(mask) kob_bcc_select(mask)
#define KOB_STORE(offset, value) kob_bcc_store(offset, value)
#define KOB_BCC_SEAM

#elif defined(MODEX_FLAT32)
/* 32-bit flat protected mode, any i386 gcc: the map mask through gcc's
 * inline assembly in kobdraw.c, video memory through modex_vram, offsets
 * wrapping within the 64 KiB of a plane as in a 16-bit segment. */
#include "modex.h"
void kob_flat_select(unsigned mask);
#define KOB_SELECT_PLANES(mask) kob_flat_select(mask)
#define KOB_STORE(offset, value) (modex_vram[(unsigned)(offset)&MODEX_PLANE_MASK] = (unsigned char)(value))
#define KOB_FLAT32_SEAM

#else
#error "kobseam.h: no default seam for this compiler: define KOB_SELECT_PLANES and KOB_STORE"
#endif

#endif
