/* KOB sprites on VGA Mode X: checking a sprite and drawing it, plane by
 * plane, clipped to a rectangle. Strict C89 for 16- and 32-bit compilers:
 * no allocation, every buffer and descriptor belongs to the caller.
 *
 * The KOB file (integers little-endian), with nothing between its parts:
 *
 *   offset  size  field
 *        0     8  magic "KOB1VGAX"
 *        8     2  rows in every column (2 to 255)
 *       10     2  column strips, one per column (2 to 511)
 *       12     4  zero
 *       16     -  the column strips, column 0 first
 *
 * A column strip is a list of records ended by the byte 255. Each record
 * starts with a control byte and a skip byte, the number of transparent
 * rows (0 to 254) to pass before the record's pixels:
 *
 *   control     record    pixels n       bytes after the skip byte
 *   0..126      literal   control        n palette indices, top to bottom
 *   131..254    run       control - 128  1 palette index, repeated n times
 *   255         end of strip: no skip byte follows
 *
 * The control values 127 to 130 never occur. Skips and pixels of a strip add
 * up to the row count, and no record has both a zero skip and no pixels.
 *
 * Contract:
 * - kob_open, kob_check_header and kob_check_strip read only the bytes they
 *   are given and accept exactly the files that keep every rule above, as
 *   kob2pcx does (it checks through them). A refusal fills
 *   a kob_fault: what is wrong, in which strip, at which byte, and the value
 *   that breaks the rule.
 * - kob_draw, kob_draw_mirrored and kob_draw_strip trust their input: draw
 *   only sprites that kob_open accepted and strips that kob_check_strip
 *   accepted.
 * - Drawing stores each visible opaque pixel exactly once and nothing else;
 *   one kob_draw or kob_draw_mirrored selects planes at most 4 times. Video
 *   memory is written through the two operations of kobseam.h only.
 */
#ifndef KOB_H
#define KOB_H

/* DJGPP's gcc builds only 32-bit flat programs: it takes the flat seam and
 * the 32-bit compiled code without being told. */
#if defined(__DJGPP__) && !defined(MODEX_FLAT32)
#define MODEX_FLAT32
#endif

#if defined(__BCC__) && !defined(const)
#define const /* dev86 bcc has no const; nothing here relies on it */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Byte counts and offsets: a whole sprite may exceed 64 KiB. */
typedef unsigned long kob_size;

#define KOB_MAGIC "KOB1VGAX"
#define KOB_MAGIC_SIZE 8
#define KOB_HEIGHT_OFFSET 8
#define KOB_WIDTH_OFFSET 10
#define KOB_RESERVED_OFFSET 12
#define KOB_HEADER_SIZE 16
#define KOB_MIN_DIMENSION 2 /* rows and columns, at least */
#define KOB_MAX_HEIGHT 255
#define KOB_MAX_WIDTH 511
#define KOB_MAX_SKIP 254    /* transparent rows one record passes */
#define KOB_MAX_LITERAL 126 /* pixels in one literal record */
#define KOB_MIN_RUN 3       /* pixels in one run record, at least */
#define KOB_MAX_RUN 126     /* and at most */
#define KOB_RUN_BASE 128    /* a run's control byte is this + n */
#define KOB_END 255         /* ends every strip */

/* The one walk of a strip's records for C code (the assembly keeps its own).
 * A record is a pointer to its control byte; `control` is that byte, read
 * once by the walker:
 *
 *   for (; (control = *record) != KOB_END; record = KOB_NEXT_RECORD(record, control)) {
 *     row += KOB_RECORD_SKIP(record);
 *     if (KOB_IS_RUN(control)) KOB_RUN_PIXELS(control) rows of the colour
 *                              *KOB_RECORD_DATA(record);
 *     else control rows of the colours from KOB_RECORD_DATA(record) on;
 *     row += KOB_RECORD_PIXELS(control);
 *   }
 *
 * On a checked strip these never read past its end byte; a checker takes
 * the sizes from them before it trusts the bytes. */
#define KOB_RECORD_SKIP(record) ((record)[1])
#define KOB_RECORD_DATA(record) ((record) + 2) /* a literal's pixels, a run's colour */
#define KOB_IS_RUN(control) ((control) >= KOB_RUN_BASE)
#define KOB_RUN_PIXELS(control) ((control)-KOB_RUN_BASE)
#define KOB_RUN_SIZE 3                            /* control, skip, colour */
#define KOB_LITERAL_SIZE(control) (2 + (control)) /* control, skip, pixels */
#define KOB_RECORD_PIXELS(control) (KOB_IS_RUN(control) ? KOB_RUN_PIXELS(control) : (control))
#define KOB_RECORD_SIZE(control) (KOB_IS_RUN(control) ? KOB_RUN_SIZE : KOB_LITERAL_SIZE(control))
#define KOB_NEXT_RECORD(record, control) ((record) + KOB_RECORD_SIZE(control))

/* The longest strip within the rules: a one-pixel literal (3 bytes) for every
 * row, then the end byte. A strip checked from a window this long, or from
 * everything up to the end of the file, gets the same verdict as in a whole
 * file: the checker never looks further than the next record's first two
 * bytes past a sound strip. */
#define KOB_MAX_STRIP_SIZE (3 * KOB_MAX_HEIGHT + 1)
#define KOB_STRIP_WINDOW (KOB_MAX_STRIP_SIZE + 1)

/* Mode X 320 x 240: each of the four planes holds every fourth pixel of a
 * row, so a row takes 80 bytes of each plane. */
#define KOB_SCREEN_WIDTH 320
#define KOB_SCREEN_HEIGHT 240
#define KOB_SCREEN_PITCH (KOB_SCREEN_WIDTH / 4)

/* What kob_open and the checkers find wrong; 0 is a sound sprite. */
#define KOB_OK 0
#define KOB_SHORT_HEADER 1 /* the data ends inside the header */
#define KOB_BAD_MAGIC 2
#define KOB_BAD_HEIGHT 3       /* value: the height */
#define KOB_BAD_WIDTH 4        /* value: the width */
#define KOB_BAD_RESERVED 5     /* value: the reserved field */
#define KOB_SHORT_STRIP 6      /* the data ends inside the strip */
#define KOB_CONTROL_127 7      /* a literal over 126 pixels */
#define KOB_SHORT_RUN 8        /* value: the run's pixels, 0 to 2 */
#define KOB_SKIP_255 9         /* a skip over 254 */
#define KOB_EMPTY_RECORD 10    /* no skip and no pixels */
#define KOB_ROWS_MISMATCH 11   /* value: the rows the strip covers */
#define KOB_TRAILING_DATA 12   /* value: the bytes after the last strip */
#define KOB_TABLE_TOO_SMALL 13 /* value: the width; the strip table is shorter */

struct kob_fault {
  int code;        /* KOB_OK or what is wrong */
  unsigned strip;  /* the strip it is in, for the strip faults */
  kob_size offset; /* the byte that breaks the rule */
  kob_size value;  /* the value that breaks it, where the code says so */
  unsigned height; /* the header's rows, for KOB_ROWS_MISMATCH */
};

/* A sprite kob_open accepted: its size and where each column strip starts,
 * counted from the start of `data`, in the caller's table of `width` or more
 * entries. */
struct kob_sprite {
  const unsigned char *data;
  unsigned width;
  unsigned height;
  const kob_size *strip;
};

/* How far a strip-by-strip check of a file has come: the header's width and
 * height, the strip to check next and the file offset where it starts. */
struct kob_scan {
  unsigned width;
  unsigned height;
  unsigned column;
  kob_size at;
};

/* Where to draw: the page's start offset in each plane, the bytes per row in
 * each plane, and the clip rectangle in pixels (right and bottom exclusive).
 * `mask` is no longer read: the map mask is the VGA's, kept in kob_map_mask;
 * the field stays so that code which clears it still builds. */
struct kob_target {
  unsigned page;
  unsigned pitch;
  int left, top, right, bottom;
  unsigned mask;
};

/* The map mask this library (the drawers and modex.h) selected last, bit p
 * for plane p, or 0 when unknown. Every call keeps it true, so a draw selects
 * a plane only when it must; code of your own that writes the map mask sets
 * it to 0 afterwards. */
extern unsigned kob_map_mask;

/* Checks the `size` bytes of a whole sprite file at `data` and fills
 * `sprite`, writing where each strip starts into `strips`, a table of `count`
 * entries (one per column; a sprite wider than `count` is refused with
 * KOB_TABLE_TOO_SMALL). Returns KOB_OK, or the first fault's code with
 * `fault` filled. */
int kob_open(struct kob_sprite *sprite, const unsigned char *data, kob_size size, kob_size *strips, unsigned count,
             struct kob_fault *fault);

/* Checking a file as it streams, never holding more than one strip's window:
 * kob_scan_header on the file's first `size` bytes (16 are enough), then,
 * while scan->column < scan->width, kob_scan_strip on the bytes from
 * scan->at: KOB_STRIP_WINDOW of them, or all that is left of the file when
 * fewer. `length` is the file's whole length; after the last strip, bytes
 * past it are KOB_TRAILING_DATA. Fault offsets count from the file's start.
 * The verdict is kob_open's on the whole file. */
int kob_scan_header(struct kob_scan *scan, const unsigned char *data, kob_size size, struct kob_fault *fault);
int kob_scan_strip(struct kob_scan *scan, const unsigned char *window, kob_size size, kob_size length,
                   struct kob_fault *fault);

/* Checks the 16-byte header among the first `size` bytes of a file and
 * stores its width and height. */
int kob_check_header(const unsigned char *data, kob_size size, unsigned *width, unsigned *height,
                     struct kob_fault *fault);

/* Checks strip `column` of a sprite `height` rows tall, starting at `strip`
 * with `size` bytes available (see KOB_STRIP_WINDOW). Sets `*length` to the
 * strip's bytes, end byte included. Fault offsets count from `strip`. */
int kob_check_strip(const unsigned char *strip, kob_size size, unsigned height, unsigned column, kob_size *length,
                    struct kob_fault *fault);

/* The problem a fault describes, as kob2pcx words it, written into `text`
 * (KOB_PROBLEM_SIZE bytes), e.g. "strip 3: a skip of 255, over 254". */
#define KOB_PROBLEM_SIZE 80 /* enough for the longest */
void kob_problem(const struct kob_fault *fault, char *text);

/* A target for the 320 x 240 screen whose page starts at `page`. */
void kob_target_init(struct kob_target *target, unsigned page);

/* Draws the sprite with its top-left pixel at (x, y), clipped to the
 * target's rectangle, in plane order. */
void kob_draw(struct kob_target *target, const struct kob_sprite *sprite, int x, int y);

/* Draws the sprite facing the other way: column c at x + width - 1 - c, with
 * the same clipping and the same guarantees as kob_draw. */
void kob_draw_mirrored(struct kob_target *target, const struct kob_sprite *sprite, int x, int y);

/* Draws one checked strip as the column at (x, y) of a sprite `height` rows
 * tall, clipped; selects its plane unless kob_map_mask says it is. Drawing
 * a sprite's strips in order of (x + column) % 4 keeps selects to 4. */
void kob_draw_strip(struct kob_target *target, const unsigned char *strip, unsigned height, int x, int y);

#ifdef __cplusplus
}
#endif

#endif
