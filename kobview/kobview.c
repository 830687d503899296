/* KOBVIEW: shows KOB sprites on a VGA in Mode X 320 x 240.
 *
 *   KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] sprite[@x,y] ...
 *
 * A DOS .COM program built with dev86 bcc (bcc -ansi -Md). Sprites can be
 * far larger than the program's one 64 KiB segment, so they are never held
 * whole: every file is checked strip by strip before the screen changes,
 * then drawn strip by strip, each strip read from the file when its plane's
 * turn comes. Any failure leaves the screen in text mode with one line on the
 * console and errorlevel 1.
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kob.h"
#include "kobseam.h"

#define MAX_SPRITES 8
#define PALETTE_SIZE 768
#define DUMP_ROW KOB_SCREEN_WIDTH

/* VGA registers. */
#define SEQUENCER 0x3C4 /* index 2: map mask, 4: memory mode */
#define MISC_OUTPUT 0x3C2
#define GRAPHICS 0x3CE /* index 4: read map select */
#define CRTC 0x3D4
#define DAC_READ_INDEX 0x3C7
#define DAC_WRITE_INDEX 0x3C8
#define DAC_DATA 0x3C9

struct sprite_arg {
  const char *path;
  int centred;
  int x, y;
  unsigned width, height;
  kob_size length;                   /* the file's */
  kob_size strip[KOB_MAX_WIDTH + 1]; /* where each strip starts, and the end */
};

static struct sprite_arg sprites[MAX_SPRITES];
static unsigned sprite_count;
static const char *palette_path;
static const char *dump_path;
static unsigned background;
static unsigned char palette[PALETTE_SIZE];
static unsigned char buffer[KOB_STRIP_WINDOW];
static int graphics_on;

/* Port I/O, video memory and the BIOS: bcc passes arguments on the stack,
 * the first at [sp+2], returns in ax, and lets a routine use ax to dx. */
/* clang-format off */
static void out_byte(unsigned port, unsigned value) {
#asm
  mov bx,sp
  mov dx,[bx+2]
  mov al,[bx+4]
  out dx,al
#endasm
}

static void out_word(unsigned port, unsigned value) {
#asm
  mov bx,sp
  mov dx,[bx+2]
  mov ax,[bx+4]
  out dx,ax
#endasm
}

static unsigned in_byte(unsigned port) {
#asm
  mov bx,sp
  mov dx,[bx+2]
  in al,dx
  xor ah,ah
#endasm
}

static unsigned load_video(unsigned offset) {
#asm
  mov bx,sp
  mov bx,[bx+2]
  push es
  mov ax,#0xA000
  mov es,ax
  seg es
  mov al,[bx]
  xor ah,ah
  pop es
#endasm
}

static void bios_set_mode(unsigned mode) {
#asm
  mov bx,sp
  mov ax,[bx+2]
  xor ah,ah
  push bp
  push si
  push di
  int 0x10
  pop di
  pop si
  pop bp
#endasm
}

static void bios_wait_key() {
#asm
  xor ax,ax
  push bp
  push si
  push di
  int 0x16
  pop di
  pop si
  pop bp
#endasm
}
/* clang-format on */

/* One line on the console; always returns 1, the errorlevel of a failure. */
static int say(const char *text) {
  write(1, text, strlen(text));
  write(1, "\r\n", 2);
  return 1;
}

static int say_about(const char *format, const char *path) {
  char line[256];
  sprintf(line, format, path);
  return say(line);
}

static void text_mode() {
  if (graphics_on) bios_set_mode(0x03);
  graphics_on = 0;
}

/* Mode 13h unchained into four planes, 240 lines at 60 Hz, all four pages
 * cleared. */
static void mode_x() {
  static const unsigned crtc_240_lines[] = {0x0D06, 0x3E07, 0x4109, 0xEA10, 0xAC11,
                                            0xDF12, 0x0014, 0xE715, 0x0616, 0xE317};
  unsigned i;
  bios_set_mode(0x13);
  graphics_on = 1;
  out_word(SEQUENCER, 0x0604); /* chain 4 off */
  out_word(SEQUENCER, 0x0100); /* synchronous reset while the clock changes */
  out_byte(MISC_OUTPUT, 0xE3); /* 25 MHz dot clock, 480-line sync polarity */
  out_word(SEQUENCER, 0x0300);
  out_byte(CRTC, 0x11);
  out_byte(CRTC + 1, in_byte(CRTC + 1) & 0x7F); /* unlock CRTC registers 0-7 */
  for (i = 0; i < sizeof crtc_240_lines / sizeof crtc_240_lines[0]; ++i) out_word(CRTC, crtc_240_lines[i]);
}

static void fill_page(unsigned colour) {
  unsigned offset;
  out_word(SEQUENCER, 0x0F02); /* all four planes */
  for (offset = 0; offset < KOB_SCREEN_PITCH * KOB_SCREEN_HEIGHT; ++offset) KOB_STORE(offset, colour);
}

static void load_dac() {
  unsigned i;
  out_byte(DAC_WRITE_INDEX, 0);
  for (i = 0; i < PALETTE_SIZE; ++i) out_byte(DAC_DATA, palette[i] >> 2);
}

/* Reads up to `size` bytes at `offset`; the count read, or -1. */
static int read_at(int fd, kob_size offset, unsigned char *into, unsigned size) {
  if (lseek(fd, (long)offset, SEEK_SET) != (long)offset) return -1;
  return read(fd, into, size);
}

/* ---- the command line ---- */

/* A decimal number from `low` to `high` ending in the character `stop`. */
static int parse_number(const char *text, int stop, long low, long high, int *value) {
  long n = 0;
  int negative = *text == '-';
  if (negative) ++text;
  if (*text < '0' || *text > '9') return 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + (*text - '0');
    if (n > 99999L) return 0;
  }
  if (negative) n = -n;
  if (*text != stop) return 0;
  if (n < low || n > high) return 0;
  *value = (int)n;
  return 1;
}

/* "name@x,y" or "name"; the text after the last '@' is the position. */
static int parse_sprite(char *arg) {
  struct sprite_arg *sprite;
  char *at = strrchr(arg, '@');
  char *comma;
  if (sprite_count == MAX_SPRITES) return say("Too many sprites: at most 8");
  sprite = &sprites[sprite_count++];
  sprite->path = arg;
  sprite->centred = at == NULL;
  if (at == NULL) return 0;
  comma = strchr(at, ',');
  if (at == arg || comma == NULL || !parse_number(at + 1, ',', -32768L, 32767L, &sprite->x) ||
      !parse_number(comma + 1, '\0', -32768L, 32767L, &sprite->y)) {
    return say_about("Bad position '%s'", arg);
  }
  *at = '\0';
  return 0;
}

static int parse_arguments(int argc, char **argv) {
  int i, colour;
  for (i = 1; i < argc; ++i) {
    char *arg = argv[i];
    char letter;
    if (arg[0] != '/') {
      if (parse_sprite(arg)) return 1;
      continue;
    }
    letter = arg[1] >= 'a' && arg[1] <= 'z' ? arg[1] - 'a' + 'A' : arg[1];
    if (arg[2] != ':' || arg[3] == '\0') return say_about("Bad switch '%s'", arg);
    if (letter == 'P') {
      palette_path = arg + 3;
    } else if (letter == 'D') {
      dump_path = arg + 3;
    } else if (letter == 'B' && parse_number(arg + 3, '\0', 0L, 255L, &colour)) {
      background = (unsigned)colour;
    } else {
      return say_about("Bad switch '%s'", arg);
    }
  }
  if (sprite_count == 0) return say("Usage: KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] sprite[@x,y] ...");
  return 0;
}

/* ---- checking the files ---- */

static int load_palette() {
  long length;
  char line[256];
  int fd = open(palette_path, O_RDONLY);
  if (fd < 0) return say_about("Cannot open palette file '%s'", palette_path);
  length = lseek(fd, 0L, SEEK_END);
  if (length == PALETTE_SIZE && read_at(fd, (kob_size)0, palette, PALETTE_SIZE) != PALETTE_SIZE) length = -1;
  close(fd);
  if (length < 0) return say_about("Cannot read palette file '%s'", palette_path);
  if (length == PALETTE_SIZE) return 0;
  sprintf(line, "Bad palette file '%s': %ld bytes, a palette is 768", palette_path, length);
  return say(line);
}

static int bad_sprite(const struct sprite_arg *sprite, struct kob_fault *fault) {
  char problem[KOB_PROBLEM_SIZE];
  char line[256];
  kob_problem(fault, problem);
  sprintf(line, "Bad sprite file '%s': %s (byte %lu)", sprite->path, problem, fault->offset);
  return say(line);
}

/* Checks the whole file as kob2pcx does, reading one strip's window at a
 * time, and notes where every strip starts. */
static int check_sprite(struct sprite_arg *sprite) {
  struct kob_fault fault;
  struct kob_scan scan;
  int got, failed;
  int fd = open(sprite->path, O_RDONLY);
  if (fd < 0) return say_about("Cannot open sprite file '%s'", sprite->path);
  sprite->length = (kob_size)lseek(fd, 0L, SEEK_END);
  got = read_at(fd, (kob_size)0, buffer, KOB_HEADER_SIZE);
  failed = got < 0 || kob_scan_header(&scan, buffer, (kob_size)got, &fault) != KOB_OK;
  while (!failed && scan.column < scan.width) {
    sprite->strip[scan.column] = scan.at;
    got = read_at(fd, scan.at, buffer, KOB_STRIP_WINDOW);
    failed = got < 0 || kob_scan_strip(&scan, buffer, (kob_size)got, sprite->length, &fault) != KOB_OK;
  }
  close(fd);
  if (got < 0) return say_about("Cannot read sprite file '%s'", sprite->path);
  if (failed) return bad_sprite(sprite, &fault);
  sprite->width = scan.width;
  sprite->height = scan.height;
  sprite->strip[sprite->width] = scan.at;
  if (sprite->centred) {
    sprite->x = ((int)KOB_SCREEN_WIDTH - (int)sprite->width) / 2;
    sprite->y = ((int)KOB_SCREEN_HEIGHT - (int)sprite->height) / 2;
  }
  return 0;
}

/* ---- drawing ---- */

/* Streams the strips of the columns on screen, plane after plane; false
 * when the file cannot be read again. */
static int draw_sprite(struct kob_target *target, const struct sprite_arg *sprite) {
  unsigned plane, column;
  int ok = 1;
  int fd = open(sprite->path, O_RDONLY);
  if (fd < 0) return 0;
  for (plane = 0; plane < 4 && ok; ++plane) {
    for (column = 0; column < sprite->width && ok; ++column) {
      long screen_x = (long)sprite->x + (long)column;
      unsigned size = (unsigned)(sprite->strip[column + 1] - sprite->strip[column]);
      if (screen_x < 0 || screen_x >= KOB_SCREEN_WIDTH || (unsigned)(screen_x & 3) != plane) continue;
      ok = read_at(fd, sprite->strip[column], buffer, size) == (int)size;
      if (ok) kob_draw_strip(target, buffer, sprite->height, (int)screen_x, sprite->y);
    }
  }
  close(fd);
  return ok;
}

/* The visible page, row after row, read back from the four planes; then the
 * DAC. False when a write fails. */
static int write_dump(int fd) {
  unsigned y, x, plane, i;
  for (y = 0; y < KOB_SCREEN_HEIGHT; ++y) {
    for (plane = 0; plane < 4; ++plane) {
      out_word(GRAPHICS, (plane << 8) | 4);
      for (x = plane; x < DUMP_ROW; x += 4) buffer[x] = (unsigned char)load_video(y * KOB_SCREEN_PITCH + x / 4);
    }
    if (write(fd, buffer, DUMP_ROW) != DUMP_ROW) return 0;
  }
  out_byte(DAC_READ_INDEX, 0);
  for (i = 0; i < PALETTE_SIZE; ++i) palette[i] = (unsigned char)in_byte(DAC_DATA);
  return write(fd, palette, PALETTE_SIZE) == PALETTE_SIZE;
}

static int show() {
  struct kob_target target;
  unsigned i;
  int dump = -1;
  if (dump_path != NULL) {
    dump = open(dump_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dump < 0) return say_about("Cannot create file '%s'", dump_path);
  }
  mode_x();
  if (palette_path != NULL) load_dac();
  fill_page(background);
  kob_target_init(&target, 0);
  for (i = 0; i < sprite_count; ++i) {
    if (!draw_sprite(&target, &sprites[i])) {
      text_mode();
      if (dump >= 0) {
        close(dump);
        unlink(dump_path);
      }
      return say_about("Cannot read sprite file '%s'", sprites[i].path);
    }
  }
  if (dump < 0) {
    bios_wait_key();
    text_mode();
    return 0;
  }
  i = write_dump(dump);
  text_mode();
  if (close(dump) != 0) i = 0;
  if (i) return 0;
  unlink(dump_path);
  return say_about("Cannot write file '%s'", dump_path);
}

/* The dump is created before anything is drawn: it must not be one of the
 * files still to be read. Only the names are compared. */
static int dump_over_input() {
  unsigned i;
  if (dump_path == NULL) return 0;
  if (palette_path != NULL && strcasecmp(dump_path, palette_path) == 0) {
    return say_about("Dump file '%s' is also an input", dump_path);
  }
  for (i = 0; i < sprite_count; ++i) {
    if (strcasecmp(dump_path, sprites[i].path) == 0) return say_about("Dump file '%s' is also an input", dump_path);
  }
  return 0;
}

int main(int argc, char **argv) {
  unsigned i;
  if (parse_arguments(argc, argv) || dump_over_input()) return 1;
  if (palette_path != NULL && load_palette()) return 1;
  for (i = 0; i < sprite_count; ++i) {
    if (check_sprite(&sprites[i])) return 1;
  }
  return show();
}
