// pcx2kob: compiles a 256-colour PCX or indexed PNG image into a KOB sprite
// for VGA Mode X, or a sprite sheet into one sprite per cell.
//
// Reads the options, then runs the stages in order; each stage writes its one
// message on failure and the run ends with status 1.
#include <unistd.h>

#include "image.h"
#include "io.h"
#include "options.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "sprite/sprite.h"

static const char* input_path;
static const char* output_path;
static const char* palette_path;
static const char* grid_text;

// The first eight lines stay as they are, byte for byte, for the scripts
// that compare them; lines for -grid and PNG input come after them.
static void help() {
  static const char usage[] =
      "PCX2KOB VGA Mode X sprite compiler\n"
      "PCX file must be 256-color format with VGA palette.\n"
      "\n"
      "pcx2kob [options]\n"
      "  -o <filename>                Write KOB sprite to file\n"
      "  -i <filename>                Read image from PCX file\n"
      "  -tc <index>                  Specify transparency color\n"
      "  -p <filename>                Write PCX palette to file\n"
      "  -i <filename>                May also be an indexed-colour PNG\n"
      "  -grid <width>x<height>       Sprite sheet: one sprite per cell, -o with %d\n";
  write_all(STDERR_FILENO, usage, sizeof usage - 1);
}

// Nothing may be written over the input or over another output. A sheet's
// cell files are named only once the image's size is known.
static bool outputs_distinct() {
  if (palette_path && !distinct_files(palette_path, input_path)) return false;
  if (grid_text) return true;
  if (!distinct_files(output_path, input_path)) return false;
  return !palette_path || distinct_files(output_path, palette_path);
}

static bool cells_distinct() { return !grid_text || sheet_outputs_distinct(output_path, input_path, palette_path); }

// A PNG is decoded whole, and so checked to its end, before its palette is
// written; a PCX keeps its own order: palette first, then the image data.
static bool read_png() {
  if (!read_src_png(input_path)) return false;
  if (!cells_distinct()) return false;
  return !palette_path || write_pcx_palette(palette_path);
}

static bool read_pcx() {
  if (!read_src_pcx(input_path)) return false;
  if (!cells_distinct()) return false;
  if (palette_path && src_image.has_palette && !write_pcx_palette(palette_path)) return false;
  return decode_src_pcx();
}

int main(int argc, char** argv) {
  static const PathOption options[] = {
      {"i", &input_path, true}, {"o", &output_path, true}, {"p", &palette_path, false}, {"grid", &grid_text, false}};
  if (!parse_options(argc, argv, options, sizeof options / sizeof options[0], help)) return 1;
  if (grid_text && !set_grid(grid_text)) return 1;
  if (grid_text && !check_cell_name(output_path)) return 1;
  if (!outputs_distinct()) return 1;
  if (!(input_is_png(input_path) ? read_png() : read_pcx())) return 1;
  if (!(grid_text ? write_sprite_sheet(output_path) : write_sprite(output_path, src_image))) return 1;
  return 0;
}
