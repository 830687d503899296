/* SLIMES: eight slimes bouncing over a landscape in Mode X, the example game
 * of the Mode X library.
 *
 *   SLIMES [frames [dumpfile]]
 *
 * Needs SLIME.KBK, the bank of a sprite sheet's frames with their hotspots
 * at the slimes' feet (the sheet marks them in colour 5), and SLIME.PAL, its
 * palette, in the current directory:
 *
 *   pcx2kob -i slime-sheet.pcx -grid 48x40 -bank SLIME.KBK -mark 5 -p SLIME.PAL
 *
 * Runs `frames` frames (default 3600, a minute at 60 Hz), then with a
 * dump file writes the page on screen there, 240 rows of 320 colour indices.
 * Pages 0 and 1 take turns on screen while the other is drawn; page 2 keeps
 * the background, copied over the hidden page before each frame is drawn.
 * Built with dev86 bcc:
 *
 *   bcc -ansi -Md -I<source>/modex -o SLIMES.COM slimes.c <build>/dos/libmodex.a
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kob.h"
#include "kobbank.h"
#include "modex.h"

#define FRAMES 4
#define FRAME_TICKS 6 /* screen frames each sprite frame is shown */
#define SLIMES 8
#define MAX_WIDTH 48        /* the widest cell taken */
#define MAX_BANK_BYTES 8192 /* the largest bank file taken */
#define DEFAULT_FRAMES 3600
#define BACKGROUND (2 * MODEX_PAGE_BYTES)

/* The sheet's palette holds these beside the slime's colours. */
#define SKY 32 /* 16 shades from the top of the screen down */
#define SKY_SHADES 16
#define GROUND 48 /* and 49: the two shades of the ground's checker */
#define HORIZON 200
#define BLOCK_WIDTH 16
#define BLOCK_HEIGHT 8

/* Where the slimes' feet may go: a slime's cell, its feet at the middle of
 * the cell's bottom rows, up to half off each edge. */
#define LEFTMOST 0
#define RIGHTMOST MODEX_WIDTH
#define TOPMOST 17
#define BOTTOMMOST (MODEX_HEIGHT + 17)

#define CANNOT_OPEN (-1)
#define CANNOT_READ (-2)

struct slime {
  int x, y;
  int dx, dy;
};

static unsigned char bank_data[MAX_BANK_BYTES];
static kob_size strips[FRAMES][MAX_WIDTH];
static struct kob_frame frames[FRAMES];
static unsigned char palette[MODEX_PALETTE_SIZE];
static struct slime slimes[SLIMES];
static unsigned char row[MODEX_WIDTH];

/* One line on the console; always returns 1, the errorlevel of a failure. */
static int say(const char *text) {
  write(1, text, strlen(text));
  write(1, "\r\n", 2);
  return 1;
}

static int say_about(const char *format, const char *path) {
  char line[128];
  sprintf(line, format, path);
  return say(line);
}

/* Reads the whole file into `into`: its size, `capacity` + 1 when it holds
 * more, CANNOT_OPEN or CANNOT_READ. */
static int read_file(const char *path, unsigned char *into, unsigned capacity) {
  int got;
  int fd = open(path, O_RDONLY);
  if (fd < 0) return CANNOT_OPEN;
  got = read(fd, into, capacity);
  if (got < 0) got = CANNOT_READ;
  if (got == (int)capacity && read(fd, row, 1) == 1) got = capacity + 1;
  close(fd);
  return got;
}

static int load_palette(const char *path) {
  char line[128];
  int got = read_file(path, palette, MODEX_PALETTE_SIZE);
  if (got == CANNOT_OPEN) return say_about("Cannot open palette file '%s'", path);
  if (got == CANNOT_READ) return say_about("Cannot read palette file '%s'", path);
  if (got == MODEX_PALETTE_SIZE) return 0;
  sprintf(line, "Bad palette file '%s': not %u bytes", path, MODEX_PALETTE_SIZE);
  return say(line);
}

/* Reads and checks the bank, then opens its first FRAMES frames, each with
 * a strip table of its own. */
static int load_bank(const char *path) {
  char problem[KOB_BANK_PROBLEM_SIZE], line[160];
  struct kob_bank bank;
  struct kob_bank_fault fault;
  unsigned n;
  int got = read_file(path, bank_data, MAX_BANK_BYTES);
  if (got == CANNOT_OPEN) return say_about("Cannot open bank file '%s'", path);
  if (got == CANNOT_READ) return say_about("Cannot read bank file '%s'", path);
  if (got > MAX_BANK_BYTES) {
    sprintf(line, "Bad bank file '%s': over %u bytes", path, MAX_BANK_BYTES);
    return say(line);
  }
  if (kob_bank_open(&bank, bank_data, (kob_size)got, &fault) != KOB_BANK_OK) {
    kob_bank_problem(&fault, problem);
    sprintf(line, "Bad bank file '%s': %s (byte %lu)", path, problem, fault.offset);
    return say(line);
  }
  if (bank.cell_width > MAX_WIDTH) {
    sprintf(line, "Bad bank file '%s': cells %u wide, wider than the game's %u", path, bank.cell_width, MAX_WIDTH);
    return say(line);
  }
  if (bank.frames < FRAMES) {
    sprintf(line, "Bad bank file '%s': no frame %u", path, bank.frames);
    return say(line);
  }
  for (n = 0; n < FRAMES; ++n) kob_bank_frame(&bank, n, &frames[n], strips[n], MAX_WIDTH);
  return 0;
}

/* A decimal number from 1 to 30000. */
static int parse_frames(const char *text, unsigned *count) {
  unsigned n = 0;
  if (*text == '\0') return 0;
  for (; *text >= '0' && *text <= '9' && n <= 3000; ++text) n = n * 10 + (unsigned)(*text - '0');
  if (*text != '\0' || n == 0 || n > 30000) return 0;
  *count = n;
  return 1;
}

/* Sky in bands of shades, then a checker of ground, painted once into the
 * background page with fills: a row at a time, a block at a time. */
static void paint_background(void) {
  unsigned y, block;
  for (y = 0; y < HORIZON; ++y) {
    modex_fill(BACKGROUND + y * MODEX_PITCH, MODEX_PITCH, SKY + y * SKY_SHADES / HORIZON);
  }
  for (y = HORIZON; y < MODEX_HEIGHT; ++y) {
    for (block = 0; block < MODEX_WIDTH / BLOCK_WIDTH; ++block) {
      unsigned shade = (block + y / BLOCK_HEIGHT) & 1;
      modex_fill(BACKGROUND + y * MODEX_PITCH + block * (BLOCK_WIDTH / 4), BLOCK_WIDTH / 4, GROUND + shade);
    }
  }
}

static void start_slimes(void) {
  unsigned i;
  for (i = 0; i < SLIMES; ++i) {
    slimes[i].x = 34 + 37 * (int)i;
    slimes[i].y = 42 + 23 * (int)i;
    slimes[i].dx = 1 + (int)(i % 3);
    slimes[i].dy = (i & 1) ? -1 - (int)(i % 3) : 1 + (int)(i % 2);
  }
}

/* One step along an axis, turning back at either end. */
static void step(int *at, int *speed, int low, int high) {
  *at += *speed;
  if (*at < low || *at > high) {
    *speed = -*speed;
    *at += 2 * *speed;
  }
}

/* Draws frame `tick` on the page at `page`: the background, then the
 * slimes in order, each a quarter of its animation ahead of the last, each
 * standing on its feet. */
static void draw_frame(unsigned page, unsigned tick) {
  struct kob_target target;
  unsigned i;
  modex_copy(BACKGROUND, page, MODEX_PAGE_BYTES);
  kob_target_init(&target, page);
  for (i = 0; i < SLIMES; ++i) {
    unsigned frame = (tick / FRAME_TICKS + i) % FRAMES;
    kob_draw_frame(&target, &frames[frame], slimes[i].x, slimes[i].y);
  }
}

static void move_slimes(void) {
  unsigned i;
  for (i = 0; i < SLIMES; ++i) {
    step(&slimes[i].x, &slimes[i].dx, LEFTMOST, RIGHTMOST);
    step(&slimes[i].y, &slimes[i].dy, TOPMOST, BOTTOMMOST);
  }
}

/* The page on screen, row by row; false when a write fails. */
static int write_dump(int fd, unsigned page) {
  unsigned y;
  for (y = 0; y < MODEX_HEIGHT; ++y) {
    modex_read_row(page, y, row);
    if (write(fd, row, MODEX_WIDTH) != MODEX_WIDTH) return 0;
  }
  return 1;
}

/* Runs the game; the page on screen at the end. */
static unsigned play(unsigned count) {
  unsigned tick, page = 0;
  modex_enter();
  modex_set_palette(palette, 0, 256);
  paint_background();
  start_slimes();
  for (tick = 0; tick < count; ++tick) {
    page = (tick & 1) ? MODEX_PAGE_BYTES : 0;
    draw_frame(page, tick);
    modex_show(page);
    move_slimes();
  }
  return page;
}

int main(int argc, char **argv) {
  unsigned count = DEFAULT_FRAMES;
  unsigned shown;
  int dump = -1, written;
  if (argc > 3 || (argc > 1 && !parse_frames(argv[1], &count))) return say("Usage: SLIMES [frames [dumpfile]]");
  if (load_palette("SLIME.PAL")) return 1;
  if (load_bank("SLIME.KBK")) return 1;
  if (argc == 3) {
    dump = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dump < 0) return say_about("Cannot create file '%s'", argv[2]);
  }
  shown = play(count);
  written = dump < 0 || write_dump(dump, shown);
  modex_leave();
  if (dump >= 0 && close(dump) != 0) written = 0;
  if (written) return 0;
  unlink(argv[2]);
  return say_about("Cannot write file '%s'", argv[2]);
}
