/* KOB banks: every frame of a sprite sheet in one file, each frame a trimmed
 * KOB sprite placed in its cell and drawn by its hotspot. Checking a bank,
 * finding a frame's sprite and placement, and drawing it. Strict C89 for 16-
 * and 32-bit compilers: no allocation, every buffer and descriptor belongs to
 * the caller.
 *
 * The bank file (integers little-endian), with nothing between its parts:
 *
 *   offset  size  field
 *        0     8  magic "KOBBVGAX"
 *        8     2  cell width (2 to 511)
 *       10     2  cell height (2 to 256)
 *       12     2  cells across the sheet (1 to 8192 / cell width)
 *       14     2  frames: whole rows of cells, at most 8192 of them and
 *                 8192 / cell height rows
 *       16  16*n  the frame table, frame 0 first
 *        -     -  the stored sprites, whole KOB files, back to back in the
 *                 order of the frames that store them
 *
 * A frame table entry:
 *
 *   offset  size  field
 *        0     1  kind: KOB_FRAME_EMPTY, _STORED, _SAME or _MIRRORED
 *        1     1  zero
 *        2     2  source: for _SAME and _MIRRORED an earlier _STORED frame,
 *                 otherwise zero
 *        4     4  _STORED: its sprite's offset in the file; otherwise zero
 *        8     2  left column of the frame's sprite in its cell
 *       10     2  top row of the frame's sprite in its cell
 *       12     2  hotspot x in cell coordinates, signed
 *       14     2  hotspot y in cell coordinates, signed
 *
 * An empty frame's left and top are zero. A _SAME frame stands where its
 * source does; a _MIRRORED one on the same row at column cell width - source
 * column - sprite width. Each sprite starts where the table or the sprite
 * before it ends, keeps every rule of kob.h, holds an opaque pixel and fits
 * its cell; the last one ends the file.
 *
 * Contract:
 * - kob_bank_open reads only the `size` bytes it is given and accepts exactly
 *   the banks that keep every rule above; a refusal fills a kob_bank_fault
 *   naming the frame and the byte. It needs no memory of its own beyond the
 *   stack: the sprites are checked strip by strip.
 * - kob_bank_frame and the drawing calls trust a bank kob_bank_open accepted.
 * - A frame drawn at (x, y) puts its hotspot (hx, hy) there: the cell's
 *   column c lands at x - hx + c, its row r at y - hy + r. Mirrored, the
 *   hotspot stays and the cell turns about it: column c lands at x + hx - c.
 */
#ifndef KOBBANK_H
#define KOBBANK_H

#include "kob.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KOB_BANK_MAGIC "KOBBVGAX"
#define KOB_BANK_MAGIC_SIZE 8
#define KOB_BANK_CELL_WIDTH_OFFSET 8
#define KOB_BANK_CELL_HEIGHT_OFFSET 10
#define KOB_BANK_ACROSS_OFFSET 12
#define KOB_BANK_FRAMES_OFFSET 14
#define KOB_BANK_HEADER_SIZE 16
#define KOB_BANK_MAX_CELL_HEIGHT 256 /* a 256th row is not compiled */
#define KOB_BANK_MAX_SHEET 8192      /* cells in a sheet, and its pixels across and down */

#define KOB_ENTRY_KIND 0
#define KOB_ENTRY_RESERVED 1
#define KOB_ENTRY_SOURCE 2
#define KOB_ENTRY_OFFSET 4
#define KOB_ENTRY_LEFT 8
#define KOB_ENTRY_TOP 10
#define KOB_ENTRY_HOTSPOT_X 12
#define KOB_ENTRY_HOTSPOT_Y 14
#define KOB_ENTRY_SIZE 16

#define KOB_FRAME_EMPTY 0    /* no opaque pixel: draws nothing */
#define KOB_FRAME_STORED 1   /* its sprite follows the table */
#define KOB_FRAME_SAME 2     /* draws its source's sprite */
#define KOB_FRAME_MIRRORED 3 /* draws its source's sprite mirrored */

/* What kob_bank_open finds wrong; 0 is a sound bank. */
#define KOB_BANK_OK 0
#define KOB_BANK_SHORT_HEADER 1 /* the data ends inside the header */
#define KOB_BANK_BAD_MAGIC 2
#define KOB_BANK_BAD_CELL_WIDTH 3    /* value: the width */
#define KOB_BANK_BAD_CELL_HEIGHT 4   /* value: the height */
#define KOB_BANK_BAD_ACROSS 5        /* value: the cells across */
#define KOB_BANK_BAD_FRAMES 6        /* value: the frames */
#define KOB_BANK_SHORT_TABLE 7       /* the data ends inside frame's entry */
#define KOB_BANK_BAD_KIND 8          /* value: the kind */
#define KOB_BANK_NOT_ZERO 9          /* value: a field that must be zero */
#define KOB_BANK_SELF_SOURCE 10      /* a frame refers to itself */
#define KOB_BANK_LATER_SOURCE 11     /* value: the later frame it refers to */
#define KOB_BANK_MISSING_SOURCE 12   /* value: a frame past the last */
#define KOB_BANK_UNSTORED_SOURCE 13  /* value: a frame that stores no sprite */
#define KOB_BANK_BAD_PLACE 14        /* value: column or row, not the source's place */
#define KOB_BANK_SPRITE_PAST_END 15  /* value: the sprite's offset, past the data */
#define KOB_BANK_MISPLACED_SPRITE 16 /* value: the sprite's offset, not where the last ends */
#define KOB_BANK_BAD_SPRITE 17       /* `sprite` says what; offset counts from the bank */
#define KOB_BANK_EMPTY_SPRITE 18     /* a stored sprite with no opaque pixel */
#define KOB_BANK_TOO_WIDE 19         /* value: the last column the sprite covers */
#define KOB_BANK_TOO_TALL 20         /* value: the last row the sprite covers */
#define KOB_BANK_TRAILING_DATA 21    /* value: the bytes after the last sprite */

struct kob_bank_fault {
  int code;                /* KOB_BANK_OK or what is wrong */
  unsigned frame;          /* the frame whose entry or sprite it is in */
  kob_size offset;         /* the byte that breaks the rule, from the bank's start */
  kob_size value;          /* the value that breaks it, where the code says so */
  struct kob_fault sprite; /* for KOB_BANK_BAD_SPRITE, offsets from the sprite's start */
};

/* A bank kob_bank_open accepted. */
struct kob_bank {
  const unsigned char *data;
  unsigned cell_width, cell_height;
  unsigned across; /* cells in a row of the sheet */
  unsigned frames;
};

/* Frame n of a bank, as kob_bank_frame finds it: the sprite it draws, opened
 * over the caller's strip table, and where. An empty frame has a sprite of
 * width 0 and draws nothing. */
struct kob_frame {
  struct kob_sprite sprite;
  int mirrored; /* nonzero: the sprite is drawn facing the other way */
  int left, top;
  int hotspot_x, hotspot_y;
};

/* Checks the `size` bytes of a whole bank at `data` and fills `bank`.
 * Returns KOB_BANK_OK, or the first fault's code with `fault` filled. */
int kob_bank_open(struct kob_bank *bank, const unsigned char *data, kob_size size, struct kob_bank_fault *fault);

/* The problem a fault describes, written into `text` (KOB_BANK_PROBLEM_SIZE
 * bytes), e.g. "frame 3 refers to the later frame 5". */
#define KOB_BANK_PROBLEM_SIZE (32 + KOB_PROBLEM_SIZE)
void kob_bank_problem(const struct kob_bank_fault *fault, char *text);

/* The strip table entries frame n's sprite needs: its width, 0 for an empty
 * frame. Frames that share a sprite may share a table: kob_bank_frame fills
 * it the same for each of them. */
unsigned kob_bank_strips(const struct kob_bank *bank, unsigned n);

/* Fills `frame` with frame n (below bank->frames) of an accepted bank,
 * writing where its sprite's strips start into `strips`, a table of `count`
 * entries. Returns KOB_OK, or KOB_TABLE_TOO_SMALL with nothing written when
 * the table is shorter than kob_bank_strips says. */
int kob_bank_frame(const struct kob_bank *bank, unsigned n, struct kob_frame *frame, kob_size *strips, unsigned count);

/* Where the frame's sprite goes, drawn with its hotspot at (x, y) (mirrored
 * when `mirrored` is nonzero), and whether it is drawn mirrored. In longs: a
 * hotspot far outside the cell may put it beyond an int. */
int kob_frame_place(const struct kob_frame *frame, int x, int y, int mirrored, long *left, long *top);

/* Draws the frame with its hotspot at (x, y), clipped to the target's
 * rectangle, as kob_draw draws a sprite; mirrored, turned about its hotspot. */
void kob_draw_frame(struct kob_target *target, const struct kob_frame *frame, int x, int y);
void kob_draw_frame_mirrored(struct kob_target *target, const struct kob_frame *frame, int x, int y);

/* Draws the frame with its hotspot at (x, y) through `code`, what kob_compile
 * wrote for the frame's sprite, as kob_draw_compiled draws a sprite: compiled
 * where the sprite lies wholly inside the clip rectangle, through the strips
 * elsewhere and for a frame that draws its sprite mirrored. In the DOS
 * library with the assembly drawers only (kobcomp.h). */
void kob_draw_frame_compiled(struct kob_target *target, const struct kob_frame *frame, const unsigned char *code, int x,
                             int y);

#ifdef __cplusplus
}
#endif

#endif
