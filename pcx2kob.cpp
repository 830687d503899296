// pcx2kob: compiles a 256-colour PCX image into a KOB sprite for VGA Mode X.
//
// Reads the options, then runs the stages in order; each stage writes its one
// message on failure and the run ends with status 1.
#include "pcx2kob.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "io.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

uint8_t transparent_color;

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

// The setting a path option fills, or null for a name that is not one.
static const char** path_setting(const char* name) {
  if (strcmp(name, "i") == 0) return &input_path;
  if (strcmp(name, "o") == 0) return &output_path;
  if (strcmp(name, "p") == 0) return &palette_path;
  return nullptr;
}

// Fills the run settings; false when the run must end now with status 1
// (help asked for, or a bad argument already reported).
static bool parse_options(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (name[0] != '-') return fail("Unknown param %s\n", name);
    while (*name == '-') ++name;
    bool has_value = i + 1 < argc;
    if (strcmp(name, "h") == 0 || strcmp(name, "help") == 0) {
      help();
      return false;
    }
    if (strcmp(name, "tc") == 0) {
      // With no value after it, -tc leaves the index as it was.
      if (has_value) transparent_color = static_cast<uint8_t>(strtoul(argv[++i], nullptr, 0));
      continue;
    }
    const char** path = path_setting(name);
    if (!path) return fail("Unknown switch '%s'. Use --help\n", name);
    // Standing last, a path option leaves its path absent.
    *path = has_value ? argv[++i] : nullptr;
  }
  return true;
}

int main(int argc, char** argv) {
  if (!parse_options(argc, argv)) return 1;
  if (!input_path || !output_path) {
    help();
    return 1;
  }
  if (!read_src_pcx(input_path)) return 1;
  if (palette_path && src_pcx_palette && !write_pcx_palette(palette_path)) return 1;
  if (!decode_src_pcx()) return 1;
  if (!write_sprite(output_path)) return 1;
  return 0;
}
