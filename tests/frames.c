/* FRAMES.COM, for Dosbox.Frames: modex_show after loops that overrun the
 * frame by a known number of retraces, waited for with modex_wait_retrace.
 * Prints what each call returned, on one line, in text mode. */
#include <stdio.h>

#include "modex.h"

#define CALLS 9

/* The retraces let go by before each call: it returns that many and one. */
static const unsigned late[CALLS] = {0, 0, 1, 2, 3, 5, 0, 20, 0};

int main(void) {
  unsigned passed[CALLS];
  unsigned i, k;
  modex_enter();
  modex_show(0);
  for (i = 0; i < CALLS; ++i) {
    for (k = 0; k < late[i]; ++k) modex_wait_retrace();
    passed[i] = modex_show(i % 2 ? MODEX_PAGE_BYTES : 0);
  }
  modex_leave();
  for (i = 0; i < CALLS; ++i) printf(i + 1 < CALLS ? "%u " : "%u\n", passed[i]);
  return 0;
}
