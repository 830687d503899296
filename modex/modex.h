/* Mode X for games: the screen, its pages, the palette and video memory.
 * Strict C89 for 16- and 32-bit compilers, with no allocation and, of its
 * own, only the time the last frame was shown; the hardware is reached only
 * through modexseam.h.
 *
 * The screen is 320 x 240 pixels in 256 colours, unchained: pixel (x, y) of
 * the page starting at `page` is byte page + y * 80 + x / 4 of plane x % 4.
 * Each of the four planes holds 64 KiB:
 *
 *   offset          bytes   in every plane
 *        0         19,200   page 0
 *   19,200         19,200   page 1
 *   38,400         19,200   page 2
 *   57,600          7,936   free for the game (backgrounds, tiles)
 *
 * The mode shows 480 scan lines, each row twice, at 60 Hz.
 *
 * Contract: every function trusts its arguments. Offsets and counts stay
 * within the 64 KiB of a plane (offset + count up to 65,536), rows below
 * 240, palette entries below 256. Call modex_enter before the others.
 * Every function that writes the map mask records it in kob_map_mask (kob.h),
 * so drawing after any of them needs nothing of the caller.
 */
#ifndef MODEX_H
#define MODEX_H

#include "kob.h" /* kob_map_mask, and MODEX_FLAT32 under DJGPP */

#if defined(__BCC__) && !defined(const)
#define const /* dev86 bcc has no const; nothing here relies on it */
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define MODEX_WIDTH 320
#define MODEX_HEIGHT 240
#define MODEX_PITCH (MODEX_WIDTH / 4) /* bytes per row in each plane */
#define MODEX_PAGE_BYTES (MODEX_PITCH * MODEX_HEIGHT)
#define MODEX_PAGES 3 /* whole pages in a plane's 64 KiB */
#define MODEX_FREE_OFFSET (MODEX_PAGES * MODEX_PAGE_BYTES)
#define MODEX_PALETTE_SIZE (256 * 3) /* bytes of a whole palette, as pcx2kob -p writes it */
#define MODEX_PLANE_MASK 0xFFFFu     /* offsets wrap within a plane's 64 KiB */

#ifdef MODEX_FLAT32
/* 32-bit flat builds: where video memory (A0000h) lies in the program's
 * address space. The default, (unsigned char *)0xA0000, is right where the
 * extender maps the first megabyte at 0 (DOS/4GW and the like); a DJGPP game
 * calls __djgpp_nearptr_enable() and sets it to
 * (unsigned char *)(__djgpp_conventional_base + 0xA0000) before drawing. */
extern unsigned char *modex_vram;
#endif

/* Sets mode 13h and reprograms it into Mode X 320 x 240 at 60 Hz; clears all
 * four planes to 0, shows offset 0, enables all four planes for writes. */
void modex_enter(void);

/* Back to 80 x 25 text, mode 3. */
void modex_leave(void);

/* Shows the page that starts at `offset` from the next frame on, and
 * returns once the vertical retrace has begun: the page shown before can
 * then be drawn over without tearing. Any offset works (byte-wise scrolling
 * too). Returns the frames that passed since the previous modex_show (or
 * modex_enter) returned: 1 when the frame was on time, 2 or more when it was
 * late, up to 65,535. They are timed by the PC's timer as the BIOS runs it
 * (channel 0 and the BIOS tick count), which is read and never changed. */
unsigned modex_show(unsigned offset);

/* Returns at the start of the next vertical retrace. */
void modex_wait_retrace(void);

/* Loads `count` palette entries from entry `first`: 3 bytes each in `rgb`
 * (red, green, blue, 0 to 255), each shifted right by 2 for the DAC. */
void modex_set_palette(const unsigned char *rgb, unsigned first, unsigned count);

/* Reads `count` palette entries from entry `first` back into `rgb`, 3 bytes
 * each: the DAC's 6-bit components shifted left by 2, so what
 * modex_set_palette loaded with its two low bits 0. */
void modex_get_palette(unsigned char *rgb, unsigned first, unsigned count);

/* Sets `count` bytes of every plane from `offset` to the colour index:
 * modex_fill(page, MODEX_PAGE_BYTES, colour) clears a page. */
void modex_fill(unsigned offset, unsigned count, unsigned colour);

/* Copies `count` bytes of all four planes at once, four pixels per byte,
 * from `from` to `to` through the VGA latches; the ranges must not overlap.
 * Restoring a background kept at MODEX_FREE_OFFSET or in another page is
 * one call per row. */
void modex_copy(unsigned from, unsigned to, unsigned count);

/* Reads the 320 colour indices of row `y` of the page at `offset` into
 * `pixels`, for screenshots and checks. */
void modex_read_row(unsigned offset, unsigned y, unsigned char *pixels);

/* Writes the 320 colour indices at `pixels` into row `y` of the page at
 * `offset`, every one of them opaque: a picture put on a page row by row
 * (a background, a title screen), where a sprite would leave colour 0 out. */
void modex_write_row(unsigned offset, unsigned y, const unsigned char *pixels);

#ifdef __cplusplus
}
#endif

#endif
