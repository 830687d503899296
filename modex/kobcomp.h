/* Compiled KOB sprites: a checked sprite turned into x86 code that stores each
 * of its opaque pixels as an immediate value, for drawing a sprite that lies
 * wholly inside the clip rectangle at the floor of one store per pixel, or
 * less where pixels of a plane sit side by side on a row. Strict C89 for the
 * generator, any compiler. It writes 16-bit code for bcc's small model, run
 * by kob_draw_compiled in kobcomp.asm; built for 32-bit flat protected mode
 * (DJGPP, Open Watcom's 386 compiler, or MODEX_FLAT32 on another i386 gcc),
 * 32-bit code, run by kob_draw_compiled in kobcomp32.asm.
 *
 * The columns of one class (column mod 4) land in one plane and at the same
 * byte offsets whatever x is, so the code holds one body per class, run with
 * that plane selected and DI (EDI) at the byte of the class's first column
 * on the sprite's top row. A driver for each shift (x mod 4) selects the
 * planes in turn and calls the bodies. The code, all offsets from its first
 * byte, with F = KOB_COMPILED_FIELD (2 in 16-bit code, 4 in 32-bit code):
 *
 *   offset  size  field
 *        0   4 F  where the drivers for shifts 0 to 3 start (F bytes each)
 *      4 F   4 F  for each shift, the last byte the sprite covers, counted
 *                 from DI: (height - 1) x 80 + (shift + width - 1) / 4; in
 *                 32-bit code, 65535 less that: the furthest into a plane
 *                 DI may point with the sprite's last byte still inside
 *      8 F     -  the four drivers, then one body per class the sprite has
 *                 (its width, up to 4)
 *
 * A driver is entered with DX = 3C4h and DI at the byte of column 0 on the
 * top row; for each class in turn it does
 *
 *   B8 02 mask     mov ax, mask << 8 | 2      (the first two: the select,
 *   EF             out dx, ax                  which the caller may skip)
 *   47             inc di                     for the first class past plane 3
 *   E8 rel         call body                  (rel: F bytes)
 *
 * and returns with RETF (CBh), AH holding the map mask it selected last; in
 * 32-bit code the last class's call is a jump (E9 rel32), whose body's RET
 * returns from the driver. A body is a list
 * of stores, then RET (C3h). Pixel (row, column 4j + class) is the byte at
 * DI + row x 80 + j:
 *
 *   C6 45 d8 ib      mov byte [di+d8], ib     displacement 0 to 127
 *   C6 85 d16 ib     mov byte [di+d16], ib    displacement 128 and up
 *   C7 45 d8 iw      mov word [di+d8], iw     two pixels, columns 4j and
 *   C7 85 d16 iw     mov word [di+d16], iw    4j + 4 of one row, low first
 *
 * 16-bit code is entered with a far call (bcc's data segment is not its
 * code segment); it runs on an 8086. 32-bit code is entered with a near
 * call, EDI at the byte's address. In it the selects carry the
 * operand-size prefix 66h (66 B8 02 mask, 66 EF), inc di is inc edi, the
 * displacements are [edi+d8] (ModR/M 47h) and [edi+d32] (87h), a word store
 * is 66 C7, and four pixels of columns 4j to 4j + 12 side by side on a row
 * are one doubleword store, C7 with four bytes, lowest column first: the
 * widest store that fits is taken from the left, then a word and a byte.
 *
 * The code is made for rows of 80 bytes, the 320-pixel screen; on other
 * pitches kob_draw_compiled draws through the strips. It is written once by
 * kob_compile and never changed when it runs: in protected mode the buffer
 * must lie where the CPU may execute it. DJGPP's and DOS/4GW's flat data
 * segment is executable as it comes (its code and data selectors cover the
 * same memory); under a DPMI host or extender that keeps data from being
 * run, put the code in memory allocated for code.
 */
#ifndef KOBCOMP_H
#define KOBCOMP_H

#include "kob.h"

#if (defined(__WATCOMC__) && defined(__386__)) || defined(MODEX_FLAT32)
#define KOB_COMPILED_FLAT /* 32-bit code */
#endif

#ifdef KOB_COMPILED_FLAT
#define KOB_COMPILED_FIELD 4         /* bytes of a header field and a call's offset */
#define KOB_COMPILED_MAX 0x7FFFFFFFL /* the largest code written */
#else
#define KOB_COMPILED_FIELD 2
#define KOB_COMPILED_MAX 65535L /* offsets within the code are 16 bits: one segment */
#endif
#define KOB_COMPILED_PITCH 80         /* bytes per plane row the code is made for */
#define KOB_COMPILED_PLANE_END 65535L /* the last byte of a plane's 64 KiB */
#define KOB_COMPILED_CLASSES 4        /* bodies: one per column mod 4 */
/* The header: the drivers' offsets, then the extents from here. */
#define KOB_COMPILED_EXTENTS (KOB_COMPILED_CLASSES * KOB_COMPILED_FIELD)
#define KOB_COMPILED_HEADER_SIZE (2 * KOB_COMPILED_EXTENTS)

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of code the sprite compiles into: at most 136 for the header and the
 * drivers (211 in 32-bit code), then 1 per body and 4 to 6 per store (4 to
 * 10 in 32-bit code). About 3 bytes per opaque pixel where pixels pair up,
 * 4 to 5 where they do not: a sprite of 64 x 64, half opaque, takes about
 * 6 KiB. Over KOB_COMPILED_MAX it cannot be compiled. */
kob_size kob_compiled_size(const struct kob_sprite *sprite);

/* Writes the sprite's code into the caller's `size` bytes at `code`. Returns
 * nonzero when written; 0, writing nothing, when it needs more than `size`
 * bytes or more than KOB_COMPILED_MAX. */
int kob_compile(const struct kob_sprite *sprite, unsigned char *code, kob_size size);

/* Draws the sprite at (x, y) like kob_draw: through `code`, what kob_compile
 * wrote for this sprite, when the sprite lies wholly inside the target's clip
 * rectangle (and right of and below 0), the target's pitch is
 * KOB_COMPILED_PITCH and the sprite's bytes do not wrap past the end of video
 * memory; through kob_draw otherwise. The picture is kob_draw's either way:
 * each visible opaque pixel stored once and nothing else, at most 4 plane
 * selects, none where kob_map_mask has the plane. In bcc's small model
 * `code` lies in the data segment, which is not the code segment: the driver
 * is far-called at DS:code (kobcomp.asm). In 32-bit flat builds the driver
 * is near-called at `code`, with video memory at modex_vram (kobcomp32.asm).
 * Assembly, for the DOS and 32-bit libraries only. */
void kob_draw_compiled(struct kob_target *target, const struct kob_sprite *sprite, const unsigned char *code, int x,
                       int y);

#ifdef __cplusplus
}
#endif

#endif
