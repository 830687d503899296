// kob2pcx: paints a KOB sprite back into a 256-colour PCX image, checking
// the sprite against every rule of its layout on the way; paints a bank back
// into its sheet or one frame, or lists its frames.
//
// Reads the options, then runs the stages in order; each stage writes its one
// message on failure and the run ends with status 1.
#include <unistd.h>

#include "io.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/bank.h"
#include "sprite/sprite.h"

static const char* input_path;
static const char* output_path;
static const char* palette_path;
static const char* frame_text;
static const char* list_given;

static void help() {
  static const char usage[] =
      "KOB2PCX VGA Mode X sprite decompiler\n"
      "Paints a KOB sprite back into a 256-color PCX image.\n"
      "\n"
      "kob2pcx [options]\n"
      "  -o <filename>                Write PCX image to file\n"
      "  -i <filename>                Read KOB sprite from file\n"
      "  -tc <index>                  Specify transparency color\n"
      "  -p <filename>                Read VGA palette from file\n"
      "  -i <filename>                May also be a bank: -o paints its sheet\n"
      "  -frame <number>              Bank: paint this frame alone\n"
      "  -list                        Bank: list its frames on standard output\n";
  write_all(STDERR_FILENO, usage, sizeof usage - 1);
}

// Without a palette file the image gets a grey ramp: index i is (i, i, i).
static void grey_ramp(uint8_t* palette) {
  for (uint32_t i = 0; i < pcx_palette_size; ++i) palette[i] = static_cast<uint8_t>(i / 3);
}

// The image may be written over neither the sprite nor the palette it is
// made from.
static bool output_distinct() {
  if (!output_path) return true;
  if (!distinct_files(output_path, input_path)) return false;
  return !palette_path || distinct_files(output_path, palette_path);
}

// A bank is painted whole as its sheet, or one frame of it; -list alone
// writes no image.
static bool read_bank_input() {
  if (!read_bank(input_path)) return false;
  if (list_given && !list_bank()) return false;
  if (!output_path) return true;
  return frame_text ? paint_bank_frame(frame_text) : paint_bank_sheet();
}

static bool read_sprite_input() {
  if (frame_text || list_given) return fail("'%s' is not a bank: -frame and -list read banks\n", input_path);
  return read_sprite(input_path);
}

int main(int argc, char** argv) {
  static const PathOption options[] = {{"i", &input_path, true},
                                       {"o", &output_path, false},
                                       {"p", &palette_path, false},
                                       {"frame", &frame_text, false},
                                       {"list", &list_given, false, true}};
  if (!parse_options(argc, argv, options, sizeof options / sizeof options[0], help)) return 1;
  if (!output_path && !list_given) {
    help();
    return 1;
  }
  if (!output_distinct()) return 1;
  uint8_t palette[pcx_palette_size];
  grey_ramp(palette);
  if (palette_path && !read_palette_file(palette_path, palette)) return 1;
  if (!(input_is_bank(input_path) ? read_bank_input() : read_sprite_input())) return 1;
  if (!output_path) return 0;
  if (!write_pcx(output_path, src_kob, src_kob_width, src_kob_height, palette)) return 1;
  return 0;
}
