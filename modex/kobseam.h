/* The platform seam: the only two ways kobdraw.c touches the VGA.
 *
 *   KOB_SELECT_PLANES(mask)   write the Sequencer Map Mask (port 3C4h,
 *                             index 2): bit p enables plane p
 *   KOB_STORE(offset, value)  store one byte at `offset` of video memory
 *                             (segment A000h) in the selected planes
 *
 * Define both before compiling kobdraw.c to use your own (an engine that keeps
 * video memory behind a pointer of its own, for instance). Otherwise the
 * compiler picks one of the defaults below. The project itself builds and
 * tests only the host model (gcc, clang), dev86 bcc (in DOSBox) and the
 * 32-bit flat seam (gcc -m32, on an emulated 386); the others follow each
 * compiler's documented library. Defining only one of the
 * two is an error: the default would quietly replace both.
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
 * inline assembly, video memory through modex_vram, offsets wrapping within
 * the 64 KiB of a plane as in a 16-bit segment. */
#include "modex.h"
#include "vgaregs.h"
#define KOB_SELECT_PLANES(mask)                                                           \
  __asm__ __volatile__("outw %w0, %w1"                                                    \
                       :                                                                  \
                       : "a"(((unsigned)(mask) << 8) | VGA_MAP_MASK), "Nd"(VGA_SEQUENCER) \
                       : "memor"                                                          \
                         "y")
#define KOB_STORE(offset, value) (modex_vram[(unsigned)(offset)&MODEX_PLANE_MASK] = (unsigned char)(value))

#elif defined(__DJGPP__) || (defined(__WATCOMC__) && defined(__386__))
#error \
    "kobseam.h: for DJGPP or Open Watcom's 386 compiler, build with -DMODEX_FLAT32 (gcc) or define KOB_SELECT_PLANES and KOB_STORE"

#elif defined(__TURBOC__) || defined(__BORLANDC__)
#include <dos.h>
#define KOB_SELECT_PLANES(mask) outport(0x3C4, ((unsigned)(mask) << 8) | 2)
#define KOB_STORE(offset, value) (*(unsigned char far *)MK_FP(0xA000, (offset)) = (unsigned char)(value))

#elif defined(__WATCOMC__)
#include <conio.h>
#include <i86.h>
#define KOB_SELECT_PLANES(mask) outpw(0x3C4, ((unsigned)(mask) << 8) | 2)
#define KOB_STORE(offset, value) (*(unsigned char __far *)MK_FP(0xA000, (offset)) = (unsigned char)(value))

#elif defined(_MSC_VER) || defined(M_I86)
/* Microsoft C and QuickC, 16-bit. */
#include <conio.h>
#define KOB_SELECT_PLANES(mask) outpw(0x3C4, ((unsigned)(mask) << 8) | 2)
#define KOB_STORE(offset, value) (*(unsigned char _far *)(0xA0000000UL + (unsigned)(offset)) = (unsigned char)(value))

#else
#error "kobseam.h: define KOB_SELECT_PLANES and KOB_STORE for this compiler"
#endif

#endif
