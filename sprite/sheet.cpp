// Sprite sheets: the grid, the image limits, the numbered output names, and
// one sprite per cell.
#include <cstdlib>
#include <cstring>

#include "image.h"
#include "io.h"
#include "sprite/sprite.h"

uint32_t grid_width;
uint32_t grid_height;

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the decimal number at `text` into `value` and returns what follows
// it, or null when no digit is there. Values too large for any limit stay
// too large without overflowing.
static const char* read_number(const char* text, uint32_t* value) {
  if (!is_digit(*text)) return nullptr;
  uint32_t n = 0;
  for (; is_digit(*text); ++text) {
    if (n <= sheet_max_width) n = n * 10 + static_cast<uint32_t>(*text - '0');
  }
  *value = n;
  return text;
}

bool sprite_size_fits(uint32_t width, uint32_t height) {
  if (width < sprite_min_size || height < sprite_min_size) return false;
  return width <= sprite_max_width && height <= sprite_max_height;
}

bool set_grid(const char* text) {
  const char* rest = read_number(text, &grid_width);
  rest = rest && *rest == 'x' ? read_number(rest + 1, &grid_height) : nullptr;
  if (!rest || *rest != '\0') {
    return fail("Bad grid '%s': give the cell size as <width>x<height>, for instance 32x48\n", text);
  }
  if (!sprite_size_fits(grid_width, grid_height)) {
    return fail("Grid cell %s is out of range: a cell is %u to %u pixels wide and %u to %u high\n", text,
                sprite_min_size, sprite_max_width, sprite_min_size, sprite_max_height);
  }
  return true;
}

// Writes `number` at `out`, right-aligned in `width` characters filled with
// `pad`, and returns the end of what it wrote.
static char* put_number(char* out, uint32_t number, uint32_t width, char pad) {
  char digits[10];
  uint32_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0);
  for (; width > count; --width) *out++ = pad;
  while (count > 0) *out++ = digits[--count];
  return out;
}

// Expands `pattern` for cell `number` into `name`, which may be null when
// only the check is wanted. True when the pattern holds exactly one %d, with
// an optional 0 flag and a width of at most cell_name_max_width, and no other
// conversion than %%.
static bool expand_cell_name(const char* pattern, uint32_t number, char* name) {
  uint32_t conversions = 0;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '%') {
      if (name) *name++ = *p;
      if (*p == '%') ++p;
      continue;
    }
    ++p;
    char pad = *p == '0' ? '0' : ' ';
    if (*p == '0') ++p;
    uint32_t width = 0;
    while (is_digit(*p) && width <= cell_name_max_width) width = width * 10 + static_cast<uint32_t>(*p++ - '0');
    if (*p != 'd' || width > cell_name_max_width || ++conversions > 1) return false;
    if (name) name = put_number(name, number, width, pad);
  }
  if (name) *name = '\0';
  return conversions == 1;
}

bool check_cell_name(const char* pattern) {
  if (expand_cell_name(pattern, 0, nullptr)) return true;
  return fail("Output name '%s' must hold the cell number as one %%d (or %%02d and the like) with -grid\n", pattern);
}

bool check_image_size(const char* kind, uint32_t width, uint32_t height) {
  if (grid_width == 0) {
    if (width < sprite_min_size || height < sprite_min_size) {
      return fail("%s is %u x %u, smaller than the %u x %u of a sprite\n", kind, width, height, sprite_min_size,
                  sprite_min_size);
    }
    if (!sprite_size_fits(width, height)) {
      return fail("%s is %u x %u, larger than the %u x %u of a sprite (cut a sheet with -grid)\n", kind, width, height,
                  sprite_max_width, sprite_max_height);
    }
    return true;
  }
  if (width > sheet_max_width || height > sheet_max_height) {
    return fail("%s sheet is %u x %u, larger than %u x %u\n", kind, width, height, sheet_max_width, sheet_max_height);
  }
  if (width % grid_width != 0 || height % grid_height != 0) {
    return fail("%s sheet is %u x %u, which does not fit a whole number of %u x %u cells\n", kind, width, height,
                grid_width, grid_height);
  }
  return true;
}

// Room for any cell's name made from `pattern`; null, after the message,
// when there is no memory for it.
static char* cell_name_buffer(const char* pattern) {
  char* name = static_cast<char*>(malloc(strlen(pattern) + cell_name_max_width + 1));
  if (!name) fail("Cannot allocate memory for the output names\n");
  return name;
}

static uint32_t sheet_cells() { return (src_image.width / grid_width) * (src_image.height / grid_height); }

// A cell's output identity and its number, to sort the cells by where they
// land.
struct CellOutput {
  OutputIdentity identity;
  uint32_t cell;
};

static int compare_cell_outputs(const void* a, const void* b) {
  const CellOutput& x = *static_cast<const CellOutput*>(a);
  const CellOutput& y = *static_cast<const CellOutput*>(b);
  if (x.identity.device != y.identity.device) return x.identity.device < y.identity.device ? -1 : 1;
  if (x.identity.inode != y.identity.inode) return x.identity.inode < y.identity.inode ? -1 : 1;
  if (x.identity.name_hash != y.identity.name_hash) return x.identity.name_hash < y.identity.name_hash ? -1 : 1;
  return x.cell < y.cell ? -1 : 1;
}

static bool same_identity(const OutputIdentity& a, const OutputIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.name_hash == b.name_hash;
}

// Sorted by where they land, cells that may be one file stand side by side
// in runs of one identity; every pair within a run is compared by name, in
// the buffers `later` and `earlier`.
static bool cells_land_apart(const char* pattern, CellOutput* outputs, uint32_t count, char* later, char* earlier) {
  qsort(outputs, count, sizeof *outputs, compare_cell_outputs);
  for (uint32_t first = 0, next; first < count; first = next) {
    for (next = first + 1; next < count && same_identity(outputs[next].identity, outputs[first].identity); ++next) {
      expand_cell_name(pattern, outputs[next].cell, later);
      for (uint32_t other = first; other < next; ++other) {
        expand_cell_name(pattern, outputs[other].cell, earlier);
        if (!distinct_files(later, earlier)) return false;
      }
    }
  }
  return true;
}

// Every cell's file is checked against the input and the palette file, and
// against every other cell's, existing or not.
bool sheet_outputs_distinct(const char* pattern, const char* input, const char* palette) {
  char* name = cell_name_buffer(pattern);
  char* other = name ? cell_name_buffer(pattern) : nullptr;
  CellOutput* outputs = other ? static_cast<CellOutput*>(malloc(sizeof(CellOutput) * sheet_cells())) : nullptr;
  bool distinct = outputs || (other && fail("Cannot allocate memory for the output names\n"));
  uint32_t count = 0;
  for (uint32_t cell = 0; outputs && distinct && cell < sheet_cells(); ++cell) {
    expand_cell_name(pattern, cell, name);
    distinct = distinct_files(name, input) && (!palette || distinct_files(name, palette));
    if (output_identity(name, &outputs[count].identity)) outputs[count++].cell = cell;
  }
  distinct = distinct && outputs && cells_land_apart(pattern, outputs, count, name, other);
  free(name);
  free(other);
  free(outputs);
  return distinct;
}

// Each cell is compiled from the sheet's pixels in place: the cell is an
// image whose pixels start at its top left pixel in the sheet and keep the
// sheet's stride, so a cell's sprite is the one its pixels would make as an
// image of their own.
bool write_sprite_sheet(const char* pattern) {
  const uint32_t columns = src_image.width / grid_width;
  const uint32_t cells = sheet_cells();
  char* name = cell_name_buffer(pattern);
  if (!name) return false;
  Image cell = src_image;
  cell.width = grid_width;
  cell.height = grid_height;
  bool written = true;
  for (uint32_t number = 0; written && number < cells; ++number) {
    size_t row_start = static_cast<size_t>(number / columns) * grid_height * src_image.stride;
    cell.pixels = src_image.pixels + row_start + static_cast<size_t>(number % columns) * grid_width;
    expand_cell_name(pattern, number, name);
    written = write_sprite(name, cell);
  }
  free(name);
  return written;
}
