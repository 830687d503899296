/* Compiled KOB sprites: a checked sprite turned into 16-bit x86 code that
 * stores each of its opaque pixels as an immediate value, for drawing a
 * sprite that lies wholly inside the clip rectangle at the floor of one
 * store per pixel, or half of one where two pixels of a plane sit side by
 * side on a row. Strict C89 for the generator, any compiler; the code it
 * writes runs under kob_draw_compiled, 16-bit assembly for bcc's small model.
 *
 * The columns of one class (column mod 4) land in one plane and at the same
 * byte offsets whatever x is, so the code holds one body per class, run with
 * that plane selected and DS:DI at the byte of the class's first column on
 * the sprite's top row. A driver for each shift (x mod 4) selects the planes
 * in turn and calls the bodies. The code, all offsets from its first byte:
 *
 *   offset  size  field
 *        0     8  where the drivers for shifts 0 to 3 start (2 bytes each)
 *        8     8  for each shift, the last byte the sprite covers, counted
 *                 from DI: (height - 1) x 80 + (shift + width - 1) / 4
 *       16     -  the four drivers, then one body per class the sprite has
 *                 (its width, up to 4)
 *
 * A driver is entered with a far call, DX = 3C4h and DI at the byte of
 * column 0 on the top row; for each class in turn it does
 *
 *   B8 02 mask     mov ax, mask << 8 | 2      (the first two: 4 bytes, which
 *   EF             out dx, ax                  the caller may skip)
 *   47             inc di                     for the first class past plane 3
 *   E8 rel16       call body
 *
 * and returns with RETF (CBh), AH holding the map mask it selected last. A
 * body is a list of stores, then RET (C3h). Pixel (row, column 4j + class)
 * is the byte at DI + row x 80 + j:
 *
 *   C6 45 d8 ib      mov byte [di+d8], ib     displacement 0 to 127
 *   C6 85 d16 ib     mov byte [di+d16], ib    displacement 128 and up
 *   C7 45 d8 iw      mov word [di+d8], iw     two pixels, columns 4j and
 *   C7 85 d16 iw     mov word [di+d16], iw    4j + 4 of one row, low first
 *
 * The code is made for rows of 80 bytes, the 320-pixel screen; on other
 * pitches kob_draw_compiled draws through the strips. It runs on an 8086.
 */
#ifndef KOBCOMP_H
#define KOBCOMP_H

#include "kob.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KOB_COMPILED_PITCH 80       /* bytes per plane row the code is made for */
#define KOB_COMPILED_CLASSES 4      /* bodies: one per column mod 4 */
#define KOB_COMPILED_EXTENTS 8      /* where the header's extents start */
#define KOB_COMPILED_HEADER_SIZE 16 /* 4 driver offsets, 4 extents, 2 bytes each */
#define KOB_COMPILED_MAX 65535L     /* offsets within the code are 16 bits: one segment */

/* Bytes of code the sprite compiles into: at most 136 for the header and the
 * drivers, then 1 per body and 4 to 6 per store. About 3 bytes per opaque
 * pixel where pixels pair up, 4 to 5 where they do not: a sprite of 64 x 64,
 * half opaque, takes about 6 KiB. Over KOB_COMPILED_MAX it cannot be
 * compiled. */
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
 * is far-called at DS:code. 16-bit assembly (kobcomp.asm), for the DOS library only. */
void kob_draw_compiled(struct kob_target *target, const struct kob_sprite *sprite, const unsigned char *code, int x,
                       int y);

#ifdef __cplusplus
}
#endif

#endif
