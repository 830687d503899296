/* Drawing the frames of KOB banks by their hotspots (see kobbank.h). */
#include <limits.h>

#include "kobbank.h"
#ifdef KOB_ASM_DRAWER
#include "kobcomp.h"
#endif

int kob_frame_place(const struct kob_frame *frame, int x, int y, int mirrored, long *left, long *top) {
  if (mirrored)
    *left = (long)x + frame->hotspot_x - frame->left - (long)frame->sprite.width + 1;
  else
    *left = (long)x - frame->hotspot_x + frame->left;
  *top = (long)y - frame->hotspot_y + frame->top;
  return frame->mirrored != (mirrored != 0);
}

/* Where the frame's sprite goes as ints, or false when it lies wholly beyond
 * the reach of an int, where no clip rectangle is. */
static int place(const struct kob_frame *frame, int x, int y, int mirrored, int *left, int *top, int *turned) {
  long at_left, at_top;
  if (frame->sprite.width == 0) return 0;
  *turned = kob_frame_place(frame, x, y, mirrored, &at_left, &at_top);
  if (at_left < INT_MIN || at_left > INT_MAX || at_top < INT_MIN || at_top > INT_MAX) return 0;
  *left = (int)at_left;
  *top = (int)at_top;
  return 1;
}

static void draw_frame(struct kob_target *target, const struct kob_frame *frame, int x, int y, int mirrored) {
  int left, top, turned;
  if (!place(frame, x, y, mirrored, &left, &top, &turned)) return;
  if (turned)
    kob_draw_mirrored(target, &frame->sprite, left, top);
  else
    kob_draw(target, &frame->sprite, left, top);
}

void kob_draw_frame(struct kob_target *target, const struct kob_frame *frame, int x, int y) {
  draw_frame(target, frame, x, y, 0);
}

void kob_draw_frame_mirrored(struct kob_target *target, const struct kob_frame *frame, int x, int y) {
  draw_frame(target, frame, x, y, 1);
}

#ifdef KOB_ASM_DRAWER
void kob_draw_frame_compiled(struct kob_target *target, const struct kob_frame *frame, const unsigned char *code, int x,
                             int y) {
  int left, top, turned;
  if (!place(frame, x, y, 0, &left, &top, &turned)) return;
  if (turned)
    kob_draw_mirrored(target, &frame->sprite, left, top);
  else
    kob_draw_compiled(target, &frame->sprite, code, left, top);
}
#endif
