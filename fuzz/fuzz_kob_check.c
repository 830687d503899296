/* libFuzzer target: arbitrary bytes as a KOB sprite through the library's
 * checker, built as the host builds it and, where i386 programs run, with
 * -m32 as the 32-bit library builds it. kob_open on the whole file and the
 * streaming scan, a window at a time, must give the same verdict and fault;
 * a sprite accepted has every strip inside the file, ending at its end byte,
 * and its problem is "no problem". */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "kob.h"

static int same_fault(const struct kob_fault *a, const struct kob_fault *b) {
  return a->code == b->code && a->strip == b->strip && a->offset == b->offset && a->value == b->value;
}

/* The streaming check of kob.h, each window copied to memory of its own so
 * that a read past it is caught. */
static int scan(const uint8_t *data, kob_size size, struct kob_fault *fault) {
  struct kob_scan state;
  if (kob_scan_header(&state, data, size, fault) != KOB_OK) return fault->code;
  while (state.column < state.width) {
    kob_size left = size - state.at, window = left < KOB_STRIP_WINDOW ? left : KOB_STRIP_WINDOW;
    unsigned char *copy = (unsigned char *)malloc(window ? window : 1);
    int code;
    if (!copy) abort();
    memcpy(copy, data + state.at, window);
    code = kob_scan_strip(&state, copy, window, size, fault);
    free(copy);
    if (code != KOB_OK) return code;
  }
  return KOB_OK;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static kob_size strips[KOB_MAX_WIDTH];
  struct kob_sprite sprite;
  struct kob_fault whole, streamed;
  char text[KOB_PROBLEM_SIZE];
  unsigned column;
  int code = kob_open(&sprite, data, (kob_size)size, strips, KOB_MAX_WIDTH, &whole);
  if (scan(data, (kob_size)size, &streamed) != code) abort();
  if (code != KOB_OK && !same_fault(&whole, &streamed)) abort();
  kob_problem(&whole, text);
  if (strlen(text) >= KOB_PROBLEM_SIZE) abort();
  if (code != KOB_OK) return 0;
  if (strcmp(text, "no problem") != 0) abort();
  for (column = 0; column < sprite.width; ++column) {
    kob_size length;
    struct kob_fault fault;
    if (sprite.strip[column] >= size) abort();
    if (kob_check_strip(data + sprite.strip[column], size - sprite.strip[column], sprite.height, column, &length,
                        &fault) != KOB_OK)
      abort();
    if (data[sprite.strip[column] + length - 1] != KOB_END) abort();
  }
  return 0;
}
