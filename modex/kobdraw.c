/* Drawing checked KOB sprites on Mode X, plane by plane.
 *
 * Every call passes its arguments at their declared types: with bcc -ansi the
 * prototypes are gone, and nothing widens an int to a long on the way. */
#include "kob.h"
#include "kobseam.h"
#include "vgaregs.h"

unsigned kob_map_mask;

void kob_target_init(struct kob_target *target, unsigned page) {
  target->page = page;
  target->pitch = KOB_SCREEN_PITCH;
  target->left = 0;
  target->top = 0;
  target->right = KOB_SCREEN_WIDTH;
  target->bottom = KOB_SCREEN_HEIGHT;
  target->mask = 0;
}

/* The DOS library takes kob_draw, kob_draw_mirrored and kob_draw_strip from
 * kobdraw.asm when NASM is at hand: KOB_ASM_DRAWER leaves them out here, and
 * the seam they store through with them. */
#ifndef KOB_ASM_DRAWER

/* The part of a sprite at (x, y) inside the clip rectangle: columns
 * first_column to end_column - 1, rows first_row to end_row - 1. */
struct kob_view {
  unsigned first_column, end_column;
  unsigned first_row, end_row;
};

/* Clips one axis: the sprite's `size` pixels from `at`, against `low` to
 * `high` (exclusive, and never left of 0); false when nothing remains.
 * In longs, so that far-off positions cannot overflow a 16-bit int. */
static int clip_axis(int at, unsigned size, int low, int high, unsigned *first, unsigned *end) {
  long from = (long)(low > 0 ? low : 0) - at;
  long to = (long)high - at;
  if (from < 0) from = 0;
  if (to > (long)size) to = size;
  if (from >= to) return 0;
  *first = (unsigned)from;
  *end = (unsigned)to;
  return 1;
}

static int clip(const struct kob_target *target, unsigned width, unsigned height, int x, int y, struct kob_view *view) {
  return clip_axis(x, width, target->left, target->right, &view->first_column, &view->end_column) &&
         clip_axis(y, height, target->top, target->bottom, &view->first_row, &view->end_row);
}

static void select_plane(long screen_x) {
  unsigned mask = 1u << (unsigned)(screen_x & 3L);
  if (kob_map_mask == mask) return;
  KOB_SELECT_PLANES(mask);
  kob_map_mask = mask;
}

/* The video offset of the column's row 0; the row may lie above the page, so
 * the sum wraps as unsigned arithmetic does and comes right again for every
 * visible row. */
static unsigned column_origin(const struct kob_target *target, long screen_x, int y) {
  return (unsigned)((long)target->page + (long)y * (long)target->pitch + screen_x / 4);
}

/* Draws rows first_row to end_row - 1 of a checked strip. Records above the
 * window are passed over by their counts alone; the walk stops at the first
 * record below it. */
static void draw_rows(const unsigned char *record, unsigned origin, unsigned pitch, unsigned first_row,
                      unsigned end_row) {
  unsigned row = 0;
  for (;;) {
    unsigned control = record[0];
    unsigned first, end, at;
    if (control == KOB_END) return;
    row += KOB_RECORD_SKIP(record);
    if (row >= end_row) return;
    first = row > first_row ? row : first_row;
    if (!KOB_IS_RUN(control)) {
      const unsigned char *pixel = KOB_RECORD_DATA(record) + (first - row);
      row += control;
      record += KOB_LITERAL_SIZE(control);
      end = row < end_row ? row : end_row;
      for (at = origin + first * pitch; first < end; ++first, at += pitch) KOB_STORE(at, *pixel++);
    } else {
      unsigned colour = *KOB_RECORD_DATA(record);
      row += KOB_RUN_PIXELS(control);
      record += KOB_RUN_SIZE;
      end = row < end_row ? row : end_row;
      for (at = origin + first * pitch; first < end; ++first, at += pitch) KOB_STORE(at, colour);
    }
  }
}

/* Draws the sprite's columns in plane order. The view counts positions from
 * x; mirrored, the column at position p is width - 1 - p. */
static void draw_sprite(struct kob_target *target, const struct kob_sprite *sprite, int x, int y, int mirrored) {
  struct kob_view view;
  unsigned plane, at, column;
  if (!clip(target, sprite->width, sprite->height, x, y, &view)) return;
  for (plane = 0; plane < 4 && view.first_column + plane < view.end_column; ++plane) {
    at = view.first_column + plane;
    select_plane((long)x + (long)at);
    for (; at < view.end_column; at += 4) {
      column = mirrored ? sprite->width - 1 - at : at;
      draw_rows(sprite->data + sprite->strip[column], column_origin(target, (long)x + (long)at, y), target->pitch,
                view.first_row, view.end_row);
    }
  }
}

void kob_draw(struct kob_target *target, const struct kob_sprite *sprite, int x, int y) {
  draw_sprite(target, sprite, x, y, 0);
}

void kob_draw_mirrored(struct kob_target *target, const struct kob_sprite *sprite, int x, int y) {
  draw_sprite(target, sprite, x, y, 1);
}

void kob_draw_strip(struct kob_target *target, const unsigned char *strip, unsigned height, int x, int y) {
  struct kob_view view;
  if (!clip(target, 1, height, x, y, &view)) return;
  select_plane((long)x);
  draw_rows(strip, column_origin(target, (long)x, y), target->pitch, view.first_row, view.end_row);
}

#ifdef KOB_FLAT32_SEAM
void kob_flat_select(unsigned mask) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(mask << 8 | VGA_MAP_MASK), "Nd"(VGA_SEQUENCER) : "memory");
}
#endif

#ifdef KOB_BCC_SEAM
/* clang-format off */
/* bcc passes arguments on the stack, the first at [sp+2], and lets a routine
 * use ax, bx, cx and dx freely. */
void kob_bcc_select(unsigned mask) {
#asm
  mov bx,sp
  mov ah,[bx+2]
  mov al,#2
  mov dx,#0x3C4
  out dx,ax
#endasm
}

void kob_bcc_store(unsigned offset, unsigned value) {
#asm
  mov bx,sp
  mov al,[bx+4]
  mov bx,[bx+2]
  push es
  mov dx,#0xA000
  mov es,dx
  seg es
  mov [bx],al
  pop es
#endasm
}
/* clang-format on */
#endif

#endif
