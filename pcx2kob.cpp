// pcx2kob: compiles a 256-colour PCX or indexed PNG image into a KOB sprite
// for VGA Mode X, a sprite sheet into one sprite per cell, or either into a
// bank of frames.
//
// Reads the options, then runs the stages in order; each stage writes its one
// message on failure and the run ends with status 1.
#include <unistd.h>

#include "image.h"
#include "io.h"
#include "options.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "sprite/bank.h"
#include "sprite/sprite.h"

static const char* input_path;
static const char* output_path;
static const char* palette_path;
static const char* grid_text;
static const char* bank_path;
static const char* hotspot_text;
static const char* mark_text;

// The first eight lines stay as they are, byte for byte, for the scripts
// that compare them; lines for PNG input, -grid and banks come after them.
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
      "  -grid <width>x<height>       Sprite sheet: one sprite per cell, -o with %d\n"
      "  -bank <filename>             Write every cell (or the image) as one bank of frames\n"
      "  -hotspot <x>,<y>             Bank: every frame's hotspot in its cell (default 0,0)\n"
      "  -mark <index>                Bank: the pixel of this colour in a cell is its hotspot\n";
  write_all(STDERR_FILENO, usage, sizeof usage - 1);
}

// A bank takes the place of -o; -hotspot and -mark are a bank's.
static bool check_bank_options() {
  if (output_path && bank_path) return fail("Give either -o or -bank, not both\n");
  if (!bank_path && hotspot_text) return fail("-hotspot needs -bank\n");
  if (!bank_path && mark_text) return fail("-mark needs -bank\n");
  if (hotspot_text && !set_hotspot(hotspot_text)) return false;
  return !mark_text || set_mark(mark_text);
}

// Nothing may be written over the input or over another output. A sheet's
// cell files are named only once the image's size is known.
static bool outputs_distinct() {
  if (palette_path && !distinct_files(palette_path, input_path)) return false;
  if (bank_path) {
    if (!distinct_files(bank_path, input_path)) return false;
    return !palette_path || distinct_files(bank_path, palette_path);
  }
  if (grid_text) return true;
  if (!distinct_files(output_path, input_path)) return false;
  return !palette_path || distinct_files(output_path, palette_path);
}

static bool cells_distinct() {
  return bank_path || !grid_text || sheet_outputs_distinct(output_path, input_path, palette_path);
}

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

// A bank is compiled whole in memory, every cell checked, before the palette
// and the bank are written, so that a refused cell leaves nothing behind.
static bool write_bank_run() {
  if (!(input_is_png(input_path) ? read_src_png(input_path) : read_src_pcx(input_path) && decode_src_pcx())) {
    return false;
  }
  if (!grid_text) {
    grid_width = src_image.width;
    grid_height = src_image.height;
  }
  if (!compile_bank()) return false;
  if (palette_path && src_image.has_palette && !write_pcx_palette(palette_path)) return false;
  return write_bank(bank_path);
}

int main(int argc, char** argv) {
  static const PathOption options[] = {{"i", &input_path, true},    {"o", &output_path, false},
                                       {"p", &palette_path, false}, {"grid", &grid_text, false},
                                       {"bank", &bank_path, false}, {"hotspot", &hotspot_text, false},
                                       {"mark", &mark_text, false}};
  if (!parse_options(argc, argv, options, sizeof options / sizeof options[0], help)) return 1;
  if (!output_path && !bank_path) {
    help();
    return 1;
  }
  if (!check_bank_options()) return 1;
  if (grid_text && !set_grid(grid_text)) return 1;
  if (grid_text && !bank_path && !check_cell_name(output_path)) return 1;
  if (!outputs_distinct()) return 1;
  if (bank_path) return write_bank_run() ? 0 : 1;
  if (!(input_is_png(input_path) ? read_png() : read_pcx())) return 1;
  if (!(grid_text ? write_sprite_sheet(output_path) : write_sprite(output_path, src_image))) return 1;
  return 0;
}
