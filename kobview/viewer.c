/* KOBVIEW's command line, sprite files and drawing.
 *
 * Every call passes its arguments at their declared types: with bcc -ansi the
 * prototypes are gone, and nothing widens an int to a long on the way. */
#include "viewer.h"

#include <stdio.h>
#include <string.h>

#include "kobcomp.h"

struct view_sprite sprites[VIEW_MAX_SPRITES];
unsigned sprite_count;
const char *palette_path;
const char *dump_path;
unsigned background;
int compiled_draws;
unsigned repeats = 1;
unsigned char palette[MODEX_PALETTE_SIZE];
kob_size largest_in_memory = 0x7FFF;

/* One strip's window of a streamed file. */
static unsigned char window[KOB_STRIP_WINDOW];

int say(const char *text) {
  view_print(text, (unsigned)strlen(text));
  view_print("\r\n", 2);
  return 1;
}

int say_about(const char *format, const char *path) {
  const char *hole = strstr(format, "%s");
  view_print(format, (unsigned)(hole - format));
  view_print(path, (unsigned)strlen(path));
  return say(hole + 2);
}

int centre(unsigned screen, unsigned size) {
  if (size <= screen) return (int)((screen - size) / 2);
  return -(int)((size - screen) / 2);
}

/* ---- the command line ---- */

/* A decimal number from -32768 to 32767 at `text`: where it ends, or NULL. */
static const char *parse_number(const char *text, int *value) {
  long n = 0;
  int negative = *text == '-';
  if (negative) ++text;
  if (*text < '0' || *text > '9') return NULL;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + (*text - '0');
    if (n > 32768L) return NULL;
  }
  if (negative) n = -n;
  if (n > 32767L) return NULL;
  *value = (int)n;
  return text;
}

/* The fields after '@': "x,y" or "x,y,H", the whole of it. */
static int parse_position(const char *text, struct view_sprite *sprite) {
  text = parse_number(text, &sprite->x);
  if (text == NULL || *text != ',') return 0;
  text = parse_number(text + 1, &sprite->y);
  if (text == NULL) return 0;
  sprite->mirrored = text[0] == ',' && (text[1] == 'H' || text[1] == 'h');
  return *(sprite->mirrored ? text + 2 : text) == '\0';
}

/* Whether DOS takes `path` as a file name: an optional drive letter and
 * colon, then names parted by backslashes, with none of the characters DOS
 * leaves out of them (controls, blanks, wildcards, separators, redirections). */
static int dos_name(const char *path) {
  const char *c = path;
  if (((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z')) && c[1] == ':') c += 2;
  for (; *c != '\0'; ++c) {
    if ((unsigned char)*c <= ' ' || *c == 0x7F || strchr("\"*+,/:;<=>?[]|", *c) != NULL) return 0;
  }
  return 1;
}

/* The name a switch or sprite gives, refused unless DOS takes it, so that no
 * file is opened or made under another name than the one given. */
static int check_name(const char *path) {
  if (!dos_name(path)) return say_about("Bad file name '%s'", path);
  return 0;
}

/* A bank's frame: the name from `arg` to `end` is "bank[n]", n from 0 to
 * 8191, and loses its "[n]"; a bracket anywhere else in it is refused. */
static int parse_frame(char *arg, const char *end, struct view_sprite *sprite) {
  unsigned length = (unsigned)(end - arg);
  char *open = (char *)memchr(arg, '[', length);
  const char *close = NULL;
  int number = 0;
  sprite->frame = VIEW_NO_FRAME;
  if (open == NULL && memchr(arg, ']', length) == NULL) return 0;
  if (open != NULL && open != arg && open[1] != '-') close = parse_number(open + 1, &number);
  if (close == NULL || close + 1 != end || *close != ']' || number >= KOB_BANK_MAX_SHEET)
    return say_about("Bad frame '%s'", arg);
  sprite->frame = number;
  *open = '\0';
  return 0;
}

/* "name@x,y" or "name"; the text after the last '@' is the position. A ','
 * without an '@' is a flag given without a position. */
static int parse_sprite(char *arg) {
  struct view_sprite *sprite;
  char *at = strrchr(arg, '@');
  if (sprite_count == VIEW_MAX_SPRITES) return say("Too many sprites: at most 8");
  sprite = &sprites[sprite_count++];
  sprite->path = arg;
  sprite->centred = at == NULL;
  sprite->mirrored = 0;
  sprite->code = NULL;
  if (at == NULL && strchr(arg, ',') != NULL) return say_about("Bad position '%s'", arg);
  if (at != NULL && (at == arg || !parse_position(at + 1, sprite))) return say_about("Bad position '%s'", arg);
  if (parse_frame(arg, at != NULL ? at : arg + strlen(arg), sprite)) return 1;
  if (at != NULL) *at = '\0';
  return check_name(arg);
}

/* The value of "/L:value", or NULL when the switch is not of that form. */
static const char *switch_value(const char *arg) {
  if (arg[1] == '\0' || arg[2] != ':' || arg[3] == '\0') return NULL;
  return arg + 3;
}

/* A switch's number from `low` to `high`, the whole of its value. */
static int switch_number(const char *value, int low, int high, int *number) {
  const char *end = value == NULL ? NULL : parse_number(value, number);
  return end != NULL && *end == '\0' && *number >= low && *number <= high;
}

static int parse_switch(const char *arg) {
  const char *value = switch_value(arg);
  char letter = arg[1] >= 'a' && arg[1] <= 'z' ? (char)(arg[1] - 'a' + 'A') : arg[1];
  int number;
  if (letter == 'C' && arg[2] == '\0') {
    compiled_draws = 1;
    return 0;
  }
  if (value != NULL && letter == 'P') {
    palette_path = value;
    return check_name(value);
  }
  if (value != NULL && letter == 'D') {
    dump_path = value;
    return check_name(value);
  }
  if (letter == 'B' && switch_number(value, 0, 255, &number)) {
    background = (unsigned)number;
    return 0;
  }
  if (letter == 'R' && switch_number(value, 1, VIEW_MAX_REPEATS, &number)) {
    repeats = (unsigned)number;
    return 0;
  }
  return say_about("Bad switch '%s'", arg);
}

int parse_arguments(int argc, char **argv) {
  int i;
  for (i = 1; i < argc; ++i) {
    int failed = argv[i][0] == '/' ? parse_switch(argv[i]) : parse_sprite(argv[i]);
    if (failed) return 1;
  }
  if (sprite_count == 0)
    return say(
        "Usage: KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] [/C] [/R:n] sprite[@x,y[,H]] bank[n][@x,y[,H]] ...");
  return 0;
}

/* ---- the files ---- */

int load_palette(void) {
  char line[80];
  long length;
  int file = view_open(palette_path);
  if (file < 0) return say_about("Cannot open palette file '%s'", palette_path);
  length = view_length(file);
  if (length == MODEX_PALETTE_SIZE &&
      view_read(file, (kob_size)0, palette, (unsigned)MODEX_PALETTE_SIZE) != MODEX_PALETTE_SIZE) {
    length = -1;
  }
  view_close(file);
  if (length < 0) return say_about("Cannot read palette file '%s'", palette_path);
  if (length == MODEX_PALETTE_SIZE) return 0;
  sprintf(line, "Bad palette file '%%s': %ld byte%s, a palette is %u", length, length == 1 ? "" : "s",
          (unsigned)MODEX_PALETTE_SIZE);
  return say_about(line, palette_path);
}

static int bad_sprite(const struct view_sprite *sprite, const struct kob_fault *fault) {
  char problem[KOB_PROBLEM_SIZE];
  char line[KOB_PROBLEM_SIZE + 48];
  kob_problem(fault, problem);
  sprintf(line, "Bad sprite file '%%s': %s (byte %lu)", problem, fault->offset);
  return say_about(line, sprite->path);
}

/* Checks the file strip by strip, one window at a time, noting in the table
 * where every strip starts and, after the last, where it ends. */
static int scan_file(int file, struct view_sprite *sprite, struct kob_scan *scan, kob_size *table,
                     struct kob_fault *fault) {
  int got;
  while (scan->column < scan->width) {
    table[scan->column] = scan->at;
    got = view_read(file, scan->at, window, (unsigned)KOB_STRIP_WINDOW);
    if (got < 0) return -1;
    if (kob_scan_strip(scan, window, (kob_size)got, sprite->length, fault) != KOB_OK) return 1;
  }
  table[scan->width] = scan->at;
  sprite->sprite.data = NULL;
  sprite->sprite.width = scan->width;
  sprite->sprite.height = scan->height;
  sprite->sprite.strip = table;
  return 0;
}

/* Reads the whole file into `data` and checks it there: 0, 1 for a fault,
 * -1 when it cannot be read. */
static int read_whole(int file, struct view_sprite *sprite, unsigned char *data, kob_size *table, unsigned count,
                      struct kob_fault *fault) {
  unsigned size = (unsigned)sprite->length;
  if (view_read(file, (kob_size)0, data, size) != (int)size) return -1;
  return kob_open(&sprite->sprite, data, sprite->length, table, count, fault) != KOB_OK;
}

/* Words of the arena that `bytes` take. */
static unsigned words_for(kob_size bytes) { return (unsigned)((bytes + sizeof(kob_size) - 1) / sizeof(kob_size)); }

/* Checks the sprite open as `file`, whose header `scan` holds, at `arena`:
 * read whole after its strip table when its file fits in the `spare` words
 * past it, else strip by strip. Sets `*used` to the words it took; returns
 * 0, 1 for a fault, -1 when the file cannot be read. */
static int check_sprite(int file, struct view_sprite *sprite, struct kob_scan *scan, kob_size *arena, unsigned spare,
                        unsigned *used, struct kob_fault *fault) {
  unsigned table_words = scan->width + 1;
  unsigned data_words = words_for(sprite->length);
  sprite->in_memory = sprite->length <= largest_in_memory && table_words + data_words <= spare;
  *used = table_words + (sprite->in_memory ? data_words : 0);
  if (!sprite->in_memory) return scan_file(file, sprite, scan, arena, fault);
  return read_whole(file, sprite, (unsigned char *)(arena + table_words), arena, scan->width, fault);
}

static int bad_bank(const struct view_sprite *sprite, const struct kob_bank_fault *fault) {
  char problem[KOB_BANK_PROBLEM_SIZE];
  char line[KOB_BANK_PROBLEM_SIZE + 48];
  kob_bank_problem(fault, problem);
  sprintf(line, "Bad bank file '%%s': %s (byte %lu)", problem, fault->offset);
  return say_about(line, sprite->path);
}

static int missing_frame(const struct view_sprite *sprite, unsigned frames) {
  char line[48];
  sprintf(line, "Frame '%u' is not in bank file '", (unsigned)sprite->frame);
  view_print(line, (unsigned)strlen(line));
  view_print(sprite->path, (unsigned)strlen(sprite->path));
  sprintf(line, "': give a number from 0 to %u", frames - 1);
  return say(line);
}

/* An int as near to `value` as an int goes: a frame placed beyond that is
 * off every screen either way. */
static int nearest_int(long value) {
  if (value < -32767L) return -32767;
  if (value > 32767L) return 32767;
  return (int)value;
}

/* Makes the sprite the frame's, placed by its hotspot at the sprite's
 * position or, centred, in its cell centred as a sprite of the cell's size
 * is. An empty frame is left to the streaming draw, which draws nothing for
 * a width of 0. */
static void place_frame(struct view_sprite *sprite, const struct kob_bank *bank, const struct kob_frame *frame) {
  long left, top;
  sprite->sprite = frame->sprite;
  sprite->in_memory = frame->sprite.width != 0;
  if (sprite->centred) {
    sprite->x = centre((unsigned)KOB_SCREEN_WIDTH, bank->cell_width) + frame->left;
    sprite->y = centre((unsigned)KOB_SCREEN_HEIGHT, bank->cell_height) + frame->top;
    sprite->mirrored = frame->mirrored;
    return;
  }
  sprite->mirrored = kob_frame_place(frame, sprite->x, sprite->y, sprite->mirrored, &left, &top);
  sprite->x = nearest_int(left);
  sprite->y = nearest_int(top);
}

/* Reads the bank open as `file` whole into `arena`, when it fits in
 * `spare` words beside the widest frame's strip table, checks it and takes
 * the sprite's frame from it. Sets `*used` to the words it took; returns 0,
 * 1 after its line, -1 when the file cannot be read. */
static int load_bank(int file, struct view_sprite *sprite, kob_size *arena, unsigned spare, unsigned *used) {
  struct kob_bank bank;
  struct kob_bank_fault fault;
  struct kob_frame frame;
  unsigned char *data = (unsigned char *)arena;
  unsigned data_words;
  if (sprite->length > VIEW_LARGEST_BANK) return say_about("Bank file '%s' does not fit in memory", sprite->path);
  data_words = words_for(sprite->length);
  if (data_words + VIEW_TABLE_WORDS > spare) return say_about("Bank file '%s' does not fit in memory", sprite->path);
  if (view_read(file, (kob_size)0, data, (unsigned)sprite->length) != (int)sprite->length) return -1;
  if (kob_bank_open(&bank, data, sprite->length, &fault) != KOB_BANK_OK) return bad_bank(sprite, &fault);
  if ((unsigned)sprite->frame >= bank.frames) return missing_frame(sprite, bank.frames);
  kob_bank_frame(&bank, (unsigned)sprite->frame, &frame, arena + data_words, (unsigned)VIEW_TABLE_WORDS);
  *used = data_words + kob_bank_strips(&bank, (unsigned)sprite->frame);
  place_frame(sprite, &bank, &frame);
  return 0;
}

/* Loads one frame of a bank; see load_sprite. */
static int load_frame(struct view_sprite *sprite, kob_size *arena, unsigned room, unsigned keep, unsigned *used) {
  int failed = -1;
  int file = view_open(sprite->path);
  if (file < 0) return say_about("Cannot open bank file '%s'", sprite->path);
  sprite->length = (kob_size)view_length(file);
  if (sprite->length != (kob_size)-1L) failed = load_bank(file, sprite, arena, room - keep, used);
  view_close(file);
  if (failed < 0) return say_about("Cannot read bank file '%s'", sprite->path);
  return failed;
}

/* Loads one sprite into the `room` words at `arena`, keeping `keep` of them
 * for the tables of the sprites still to come; sets `*used` to the words it
 * took. Its own table always fits: the arena holds VIEW_TABLE_WORDS for
 * every sprite. */
static int load_sprite(struct view_sprite *sprite, kob_size *arena, unsigned room, unsigned keep, unsigned *used) {
  struct kob_fault fault;
  struct kob_scan scan;
  unsigned char header[KOB_HEADER_SIZE];
  int got, failed = -1;
  int file = view_open(sprite->path);
  if (file < 0) return say_about("Cannot open sprite file '%s'", sprite->path);
  sprite->length = (kob_size)view_length(file);
  got = sprite->length == (kob_size)-1L ? -1 : view_read(file, (kob_size)0, header, (unsigned)KOB_HEADER_SIZE);
  if (got >= 0) failed = kob_scan_header(&scan, header, (kob_size)got, &fault) != KOB_OK;
  if (!failed) failed = check_sprite(file, sprite, &scan, arena, room - keep, used, &fault);
  view_close(file);
  if (failed < 0) return say_about("Cannot read sprite file '%s'", sprite->path);
  if (failed) return bad_sprite(sprite, &fault);
  if (sprite->centred) {
    sprite->x = centre((unsigned)KOB_SCREEN_WIDTH, sprite->sprite.width);
    sprite->y = centre((unsigned)KOB_SCREEN_HEIGHT, sprite->sprite.height);
  }
  return 0;
}

/* Streamed strips are read a chunk at a time into what the sprites left of
 * the arena, or into the one-strip window when that is more. */
static unsigned char *chunk = window;
static unsigned chunk_size = KOB_STRIP_WINDOW;

/* The largest chunk read at once: one read's count is an int. */
#define LARGEST_CHUNK 0x7FF0u

static void place_chunk(kob_size *spare, unsigned words) {
  unsigned largest = LARGEST_CHUNK / sizeof(kob_size);
  chunk = window;
  chunk_size = KOB_STRIP_WINDOW;
  if (words > largest) words = largest;
  if (words * sizeof(kob_size) <= KOB_STRIP_WINDOW) return;
  chunk = (unsigned char *)spare;
  chunk_size = words * sizeof(kob_size);
}

int load_sprites(kob_size *arena, unsigned words) {
  unsigned i, used = 0;
  for (i = 0; i < sprite_count; ++i) {
    unsigned keep = (sprite_count - 1 - i) * VIEW_TABLE_WORDS;
    unsigned took = 0;
    int failed = sprites[i].frame == VIEW_NO_FRAME ? load_sprite(&sprites[i], arena + used, words - used, keep, &took)
                                                   : load_frame(&sprites[i], arena + used, words - used, keep, &took);
    if (failed) return 1;
    used += took;
  }
  place_chunk(arena + used, words - used);
  return 0;
}

/* ---- drawing ---- */

/* Draws `count` columns of one plane, from sprite column `column` on, every
 * fourth, the first at screen x `screen_x` and the next `screen_step` from
 * it. Their strips lie in the file in that order: each chunk is read from
 * the first strip not in memory up to, at most, the plane's last. Offsets in
 * a chunk are taken in unsigned arithmetic, which wraps as the file's
 * offsets do: a chunk and the strip past it span far less than 64 KiB. */
static int stream_plane(struct kob_target *target, const struct view_sprite *sprite, int file, unsigned column,
                        unsigned count, int screen_x, int screen_step) {
  register const kob_size *strip = sprite->sprite.strip + column;
  const kob_size *end = strip + 4 * count;
  kob_size last_end = end[-3]; /* where the plane's last strip ends */
  unsigned base = 0;           /* the low bits of the chunk's offset in the file */
  unsigned height = sprite->sprite.height, length = 0, want;
  int y = sprite->y;
  for (; strip != end; strip += 4, screen_x += screen_step) {
    if ((unsigned)strip[1] - base > length) {
      want = last_end - strip[0] < (kob_size)chunk_size ? (unsigned)(last_end - strip[0]) : chunk_size;
      if (view_read(file, strip[0], chunk, want) != (int)want) return 0;
      base = (unsigned)strip[0];
      length = want;
    }
    kob_draw_strip(target, chunk + ((unsigned)strip[0] - base), height, screen_x, y);
  }
  return 1;
}

/* The strips of the columns on screen, plane after plane; mirrored, column
 * c lands at x + width - 1 - c. Within a plane the columns go in the file's
 * order whichever way they land: they never touch the same byte. */
static int stream_sprite(struct kob_target *target, const struct view_sprite *sprite) {
  const struct kob_sprite *shape = &sprite->sprite;
  long first = (long)sprite->x, end = (long)sprite->x + (long)shape->width, screen_x;
  unsigned plane, at, column, count;
  int ok = 1;
  int file;
  if (shape->width == 0) return 1;
  file = view_open(sprite->path);
  if (file < 0) return 0;
  if (first < (long)target->left) first = target->left;
  if (first < 0) first = 0;
  if (end > (long)target->right) end = target->right;
  for (plane = 0; plane < 4 && ok; ++plane) {
    /* the plane's first column on screen, then every fourth */
    screen_x = first + (long)((plane + 4 - (unsigned)(first & 3)) & 3);
    if (screen_x >= end) continue;
    count = (unsigned)((end - screen_x + 3) / 4);
    at = (unsigned)(screen_x - (long)sprite->x);
    if (!sprite->mirrored) {
      ok = stream_plane(target, sprite, file, at, count, (int)screen_x, 4);
      continue;
    }
    /* the last column on screen holds the lowest sprite column */
    column = shape->width - 1 - (at + 4 * (count - 1));
    ok = stream_plane(target, sprite, file, column, count, (int)screen_x + 4 * (int)(count - 1), -4);
  }
  view_close(file);
  return ok;
}

void compile_sprites(unsigned char *code, unsigned size) {
  unsigned i;
  for (i = 0; i < sprite_count; ++i) {
    struct view_sprite *sprite = &sprites[i];
    kob_size need;
    if (!sprite->in_memory || sprite->mirrored) continue;
    need = kob_compiled_size(&sprite->sprite);
    if (need > (kob_size)size || !kob_compile(&sprite->sprite, code, need)) continue;
    sprite->code = code;
    code += (unsigned)need;
    size -= (unsigned)need;
  }
}

int draw_sprite(struct kob_target *target, const struct view_sprite *sprite) {
  register const struct view_sprite *s = sprite; /* bcc keeps it in a register */
  if (!s->in_memory) return stream_sprite(target, s);
  if (s->mirrored)
    kob_draw_mirrored(target, &s->sprite, s->x, s->y);
  else if (s->code != NULL)
    view_draw_compiled(target, &s->sprite, s->code, s->x, s->y);
  else
    kob_draw(target, &s->sprite, s->x, s->y);
  return 1;
}
