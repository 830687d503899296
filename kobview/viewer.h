/* KOBVIEW's command line, its sprite files and their drawing: strict C89
 * that bcc builds into KOBVIEW.COM and the host builds into a fuzz target.
 * The DOS side (kobview.c) owns the screen and the dump; what these stages
 * need from the platform goes through the small seam at the end.
 *
 * Memory: a .COM has one 64 KiB segment for code, data and stack. The
 * sprites share one arena the caller gives: every sprite takes a strip table
 * sized to its width there, and a sprite whose whole file fits as well is
 * read and checked once and drawn from memory; a larger one is checked strip
 * by strip and streamed from its file when drawn, in chunks read into what the
 * sprites left of the arena. Room for the strip tables
 * of VIEW_MAX_SPRITES sprites of the widest kind is always kept, so any
 * command line that parses can be shown. */
#ifndef VIEWER_H
#define VIEWER_H

#include "kob.h"
#include "kobbank.h"
#include "modex.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VIEW_MAX_SPRITES 8
#define VIEW_MAX_REPEATS 1000                /* /R:n, draws of the whole list */
#define VIEW_NO_FRAME (-1)                   /* a sprite file, not a bank's frame */
#define VIEW_LARGEST_BANK 0x7FFF             /* a bank is read whole, in one read */
#define VIEW_TABLE_WORDS (KOB_MAX_WIDTH + 1) /* the strip table of the widest sprite */
/* The smallest arena that holds every sprite's strip table, in kob_size words. */
#define VIEW_MIN_ARENA_WORDS ((unsigned)VIEW_MAX_SPRITES * VIEW_TABLE_WORDS)

struct view_sprite {
  const char *path;
  int frame;   /* BANK[n]: the bank's frame n, else VIEW_NO_FRAME */
  int centred; /* no position given: the screen's centre */
  int x, y;
  int mirrored;              /* ",H" after the position: drawn facing the other way */
  kob_size length;           /* of the file */
  int in_memory;             /* drawn from `sprite`, else streamed from the file */
  struct kob_sprite sprite;  /* width, height, strip table; data when in memory */
  const unsigned char *code; /* its compiled form, or NULL */
};

extern struct view_sprite sprites[VIEW_MAX_SPRITES];
extern unsigned sprite_count;
extern const char *palette_path; /* NULL: the mode's own palette */
extern const char *dump_path;    /* NULL: wait for a key instead */
extern unsigned background;
extern int compiled_draws; /* /C: sprites with code drawn through it */
extern unsigned repeats;   /* /R:n: the list drawn n times over the one page */
extern unsigned char palette[MODEX_PALETTE_SIZE];
/* The largest sprite file held in memory, at most 32767 (one read takes it);
 * 0 streams every sprite. */
extern kob_size largest_in_memory;

/* Each stage returns 0, or 1 (the errorlevel) after its one console line. */

/* Reads the switches and sprites of argv; the sprite arguments lose their
 * "@x,y", and a bank's frame its "[n]". */
int parse_arguments(int argc, char **argv);

int load_palette(void);

/* Opens and checks every sprite file, in order, within an arena of `words`
 * kob_size words (at least VIEW_MIN_ARENA_WORDS), and places centred ones.
 * A bank is read whole (at most VIEW_LARGEST_BANK bytes) beside the tables
 * the sprites after it may need, checked with kob_bank_open, and its frame
 * drawn from there as a sprite placed by its hotspot; a bank that does not
 * fit is refused. What the sprites leave of the arena holds the chunks of
 * streamed ones. */
int load_sprites(kob_size *arena, unsigned words);

/* With /C: compiles every sprite held in memory and drawn unmirrored, in
 * order, while its code fits in what is left of the `size` bytes at `code`. */
void compile_sprites(unsigned char *code, unsigned size);

/* Draws one loaded sprite at its place; 0 when its file cannot be read
 * again. */
int draw_sprite(struct kob_target *target, const struct view_sprite *sprite);

/* Where a sprite `size` pixels long lands on a screen axis `screen` long:
 * centred, the odd pixel toward the far side whether it is larger or smaller
 * than the screen. */
int centre(unsigned screen, unsigned size);

int say(const char *text);
/* One line of `format`, whose one "%s" is `path`; any length of path. */
int say_about(const char *format, const char *path);

/* The seam. Files: a handle, or -1 when the file cannot be opened; its
 * length, or -1; up to `size` bytes at `offset`, the count read or -1. */
void view_print(const char *text, unsigned length);
int view_open(const char *path);
long view_length(int file);
int view_read(int file, kob_size offset, unsigned char *into, unsigned size);
void view_close(int file);
/* kob_draw_compiled where compiled code runs; the picture is kob_draw's. */
void view_draw_compiled(struct kob_target *target, const struct kob_sprite *sprite, const unsigned char *code, int x,
                        int y);

#ifdef __cplusplus
}
#endif

#endif
