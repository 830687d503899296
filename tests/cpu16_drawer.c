/* A .COM that holds the assembly strip drawer, for the emulated PC to call by
 * name; ld86 leaves out what nothing names. */
#include "kob.h"

int main(void) { return (kob_draw != 0) + (kob_draw_mirrored != 0) + (kob_draw_strip != 0); }
