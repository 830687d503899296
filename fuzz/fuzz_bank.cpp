// libFuzzer target: arbitrary bytes as a KOB bank through the bank checker.
// A bank it accepts must keep what the drawing trusts: every frame's sprite
// opens from the bank's bytes alone, within a table of KOB_MAX_WIDTH entries,
// and fits its cell; and one frame, picked by the first byte, drawn plain and
// mirrored on the VGA model, stores no byte twice.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kobbank.h"
#include "vgamodel.h"

namespace {

kob_size strips[KOB_MAX_WIDTH];

void check_frame(const kob_bank& bank, unsigned n, bool draw) {
  kob_frame frame;
  unsigned width = kob_bank_strips(&bank, n);
  if (width > KOB_MAX_WIDTH) abort();
  if (kob_bank_frame(&bank, n, &frame, strips, width) != KOB_OK) abort();
  if (frame.sprite.width != width) abort();
  if (width == 0) return;
  if (frame.left + width > bank.cell_width || frame.top + frame.sprite.height > bank.cell_height) abort();
  if (!draw) return;
  for (bool mirrored : {false, true}) {
    kob_target target;
    kob_target_init(&target, 0);
    vga_model_reset(0);
    (mirrored ? kob_draw_frame_mirrored : kob_draw_frame)(&target, &frame, 160, 120);
    if (vga.overwrites != 0 || vga.selects > 4) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact copy on the heap, so that the sanitizers see any read past it.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  if (size > 0) memcpy(bytes.get(), data, size);
  kob_bank bank;
  kob_bank_fault fault;
  char problem[KOB_BANK_PROBLEM_SIZE];
  if (kob_bank_open(&bank, bytes.get(), size, &fault) != KOB_BANK_OK) {
    if (fault.offset > size) abort();
    kob_bank_problem(&fault, problem);
    if (strlen(problem) >= sizeof problem) abort();
    return 0;
  }
  unsigned drawn = size > 0 ? data[0] % bank.frames : 0;
  for (unsigned n = 0; n < bank.frames; ++n) check_frame(bank, n, n == drawn);
  return 0;
}
