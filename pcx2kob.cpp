// pcx2kob: compiles a 256-colour PCX image into a KOB sprite for VGA Mode X.
//
// Reads the options, then runs the stages in order; each stage writes its one
// message on failure and the run ends with status 1.
#include <unistd.h>

#include "io.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

static const char* input_path;
static const char* output_path;
static const char* palette_path;

static void help() {
  static const char usage[] =
      "PCX2KOB VGA Mode X sprite compiler\n"
      "PCX file must be 256-color format with VGA palette.\n"
      "\n"
      "pcx2kob [options]\n"
      "  -o <filename>                Write KOB sprite to file\n"
      "  -i <filename>                Read image from PCX file\n"
      "  -tc <index>                  Specify transparency color\n"
      "  -p <filename>                Write PCX palette to file\n";
  write_all(STDERR_FILENO, usage, sizeof usage - 1);
}

// Nothing may be written over the input or over the other output.
static bool outputs_distinct() {
  if (!distinct_files(output_path, input_path)) return false;
  if (!palette_path) return true;
  if (!distinct_files(palette_path, input_path)) return false;
  return distinct_files(output_path, palette_path);
}

int main(int argc, char** argv) {
  static const PathOption options[] = {
      {"i", &input_path, true}, {"o", &output_path, true}, {"p", &palette_path, false}};
  if (!parse_options(argc, argv, options, sizeof options / sizeof options[0], help)) return 1;
  if (!outputs_distinct()) return 1;
  if (!read_src_pcx(input_path)) return 1;
  if (palette_path && src_pcx_palette && !write_pcx_palette(palette_path)) return 1;
  if (!decode_src_pcx()) return 1;
  if (!write_sprite(output_path)) return 1;
  return 0;
}
