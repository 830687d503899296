/* The DOS library linked into one .COM by bcc, for the emulated PC: the tests
 * and the benchmark call its functions at the addresses of the link map. ld86
 * leaves out every module nothing refers to, so main refers to each function
 * they call; it never runs. */
#include "kob.h"
#include "kobbank.h"
#include "kobcomp.h"

int main(int argc, char **argv) {
  if (argc > 0 || !argv) return 0;
  kob_open(0, 0, 0, 0, 0, 0);
  kob_draw(0, 0, 0, 0);
  kob_draw_mirrored(0, 0, 0, 0);
  kob_draw_strip(0, 0, 0, 0, 0);
  kob_compiled_size(0);
  kob_compile(0, 0, 0);
  kob_draw_compiled(0, 0, 0, 0, 0);
#ifdef KOB_ASM_DRAWER
  kob_draw_frame_compiled(0, 0, 0, 0, 0);
#endif
  return 0;
}
