/* Checking KOB banks against every rule of the layout, the words for what is
 * wrong with one, and finding a frame in an accepted bank. */
#include "kobbank.h"

#include <stdio.h>

static unsigned read_le16(const unsigned char *p) { return p[0] | (unsigned)p[1] << 8; }

static kob_size read_le32(const unsigned char *p) { return read_le16(p) | (kob_size)read_le16(p + 2) << 16; }

/* Two's complement 16 bits, without relying on how a compiler converts an
 * unsigned too large for an int. */
static int read_signed16(const unsigned char *p) {
  unsigned value = read_le16(p);
  return value < 0x8000u ? (int)value : -(int)(0xFFFFu - value) - 1;
}

/* Every argument goes at its declared type: with bcc -ansi the prototypes
 * are gone, and nothing widens an int to a long on the way. */
#define NO_VALUE ((kob_size)0)

static int refuse(struct kob_bank_fault *fault, int code, kob_size offset, kob_size value) {
  fault->code = code;
  fault->offset = offset;
  fault->value = value;
  return code;
}

static int check_header(struct kob_bank *bank, const unsigned char *data, kob_size size, struct kob_bank_fault *fault) {
  unsigned i, rows;
  if (size < KOB_BANK_HEADER_SIZE) return refuse(fault, KOB_BANK_SHORT_HEADER, size, NO_VALUE);
  for (i = 0; i < KOB_BANK_MAGIC_SIZE; ++i) {
    if (data[i] != (unsigned char)KOB_BANK_MAGIC[i]) return refuse(fault, KOB_BANK_BAD_MAGIC, (kob_size)0, NO_VALUE);
  }
  bank->cell_width = read_le16(data + KOB_BANK_CELL_WIDTH_OFFSET);
  bank->cell_height = read_le16(data + KOB_BANK_CELL_HEIGHT_OFFSET);
  bank->across = read_le16(data + KOB_BANK_ACROSS_OFFSET);
  bank->frames = read_le16(data + KOB_BANK_FRAMES_OFFSET);
  if (bank->cell_width < KOB_MIN_DIMENSION || bank->cell_width > KOB_MAX_WIDTH)
    return refuse(fault, KOB_BANK_BAD_CELL_WIDTH, (kob_size)KOB_BANK_CELL_WIDTH_OFFSET, (kob_size)bank->cell_width);
  if (bank->cell_height < KOB_MIN_DIMENSION || bank->cell_height > KOB_BANK_MAX_CELL_HEIGHT)
    return refuse(fault, KOB_BANK_BAD_CELL_HEIGHT, (kob_size)KOB_BANK_CELL_HEIGHT_OFFSET, (kob_size)bank->cell_height);
  if (bank->across < 1 || bank->across > KOB_BANK_MAX_SHEET / bank->cell_width)
    return refuse(fault, KOB_BANK_BAD_ACROSS, (kob_size)KOB_BANK_ACROSS_OFFSET, (kob_size)bank->across);
  rows = bank->frames / bank->across;
  if (bank->frames < 1 || bank->frames % bank->across != 0 || bank->frames > KOB_BANK_MAX_SHEET ||
      rows > KOB_BANK_MAX_SHEET / bank->cell_height)
    return refuse(fault, KOB_BANK_BAD_FRAMES, (kob_size)KOB_BANK_FRAMES_OFFSET, (kob_size)bank->frames);
  return KOB_BANK_OK;
}

/* Where a frame's entry starts. */
static kob_size entry_offset(unsigned n) { return KOB_BANK_HEADER_SIZE + (kob_size)n * KOB_ENTRY_SIZE; }

/* Refuses the field of the entry at offset `at` when it is not zero. */
static int nonzero(const unsigned char *entry, kob_size at, unsigned field, unsigned bytes,
                   struct kob_bank_fault *fault) {
  kob_size value = bytes == 4 ? read_le32(entry + field) : (kob_size)read_le16(entry + field);
  if (value == 0) return 0;
  refuse(fault, KOB_BANK_NOT_ZERO, at + field, value);
  return 1;
}

/* Whether a checked strip has an opaque pixel. */
static int has_pixels(const unsigned char *record) {
  unsigned control;
  for (; (control = *record) != KOB_END; record = KOB_NEXT_RECORD(record, control)) {
    if (KOB_RECORD_PIXELS(control) > 0) return 1;
  }
  return 0;
}

/* Checks a sprite strip by strip from `start`, which must be `*end`, where
 * the table or the sprite before it ends; moves `*end` past it and stores
 * its size. */
static int check_sprite(const unsigned char *data, kob_size size, kob_size at, kob_size *end, unsigned *width,
                        unsigned *height, struct kob_bank_fault *fault) {
  struct kob_scan scan;
  kob_size start = read_le32(data + at + KOB_ENTRY_OFFSET), length = 0;
  int opaque = 0;
  if (start >= size) return refuse(fault, KOB_BANK_SPRITE_PAST_END, at + KOB_ENTRY_OFFSET, start);
  if (start != *end) return refuse(fault, KOB_BANK_MISPLACED_SPRITE, at + KOB_ENTRY_OFFSET, start);
  if (kob_scan_header(&scan, data + start, size - start, &fault->sprite) != KOB_OK)
    return refuse(fault, KOB_BANK_BAD_SPRITE, start + fault->sprite.offset, NO_VALUE);
  for (; scan.column < scan.width; ++scan.column) {
    if (kob_check_strip(data + start + scan.at, size - start - scan.at, scan.height, scan.column, &length,
                        &fault->sprite) != KOB_OK) {
      fault->sprite.offset += scan.at;
      return refuse(fault, KOB_BANK_BAD_SPRITE, start + fault->sprite.offset, NO_VALUE);
    }
    if (!opaque) opaque = has_pixels(data + start + scan.at);
    scan.at += length;
  }
  if (!opaque) return refuse(fault, KOB_BANK_EMPTY_SPRITE, start, NO_VALUE);
  *end = start + scan.at;
  *width = scan.width;
  *height = scan.height;
  return KOB_BANK_OK;
}

/* A stored frame: its sprite in place and inside its cell. */
static int check_stored(const struct kob_bank *bank, kob_size size, kob_size at, kob_size *end,
                        struct kob_bank_fault *fault) {
  const unsigned char *entry = bank->data + at;
  unsigned width = 0, height = 0;
  kob_size last_column = read_le16(entry + KOB_ENTRY_LEFT), last_row = read_le16(entry + KOB_ENTRY_TOP);
  if (nonzero(entry, at, KOB_ENTRY_SOURCE, 2, fault)) return fault->code;
  if (check_sprite(bank->data, size, at, end, &width, &height, fault) != KOB_BANK_OK) return fault->code;
  last_column += width - 1;
  last_row += height - 1;
  if (last_column >= bank->cell_width) return refuse(fault, KOB_BANK_TOO_WIDE, at + KOB_ENTRY_LEFT, last_column);
  if (last_row >= bank->cell_height) return refuse(fault, KOB_BANK_TOO_TALL, at + KOB_ENTRY_TOP, last_row);
  return KOB_BANK_OK;
}

/* The width of the sprite a checked stored frame's entry points to. */
static unsigned stored_width(const unsigned char *data, const unsigned char *entry) {
  return read_le16(data + read_le32(entry + KOB_ENTRY_OFFSET) + KOB_WIDTH_OFFSET);
}

/* A frame drawing an earlier frame's sprite, plain or mirrored, from where
 * that sprite puts it. */
static int check_shared(const struct kob_bank *bank, unsigned n, kob_size at, struct kob_bank_fault *fault) {
  const unsigned char *entry = bank->data + at, *source_entry;
  unsigned source = read_le16(entry + KOB_ENTRY_SOURCE), left, expected_left;
  if (nonzero(entry, at, KOB_ENTRY_OFFSET, 4, fault)) return fault->code;
  if (source == n) return refuse(fault, KOB_BANK_SELF_SOURCE, at + KOB_ENTRY_SOURCE, (kob_size)source);
  if (source >= bank->frames) return refuse(fault, KOB_BANK_MISSING_SOURCE, at + KOB_ENTRY_SOURCE, (kob_size)source);
  if (source > n) return refuse(fault, KOB_BANK_LATER_SOURCE, at + KOB_ENTRY_SOURCE, (kob_size)source);
  source_entry = bank->data + entry_offset(source);
  if (source_entry[KOB_ENTRY_KIND] != KOB_FRAME_STORED)
    return refuse(fault, KOB_BANK_UNSTORED_SOURCE, at + KOB_ENTRY_SOURCE, (kob_size)source);
  left = read_le16(entry + KOB_ENTRY_LEFT);
  expected_left = read_le16(source_entry + KOB_ENTRY_LEFT);
  if (entry[KOB_ENTRY_KIND] == KOB_FRAME_MIRRORED)
    expected_left = bank->cell_width - expected_left - stored_width(bank->data, source_entry);
  if (left != expected_left) return refuse(fault, KOB_BANK_BAD_PLACE, at + KOB_ENTRY_LEFT, (kob_size)left);
  if (read_le16(entry + KOB_ENTRY_TOP) != read_le16(source_entry + KOB_ENTRY_TOP))
    return refuse(fault, KOB_BANK_BAD_PLACE, at + KOB_ENTRY_TOP, (kob_size)read_le16(entry + KOB_ENTRY_TOP));
  return KOB_BANK_OK;
}

/* Checks frame n's entry; a stored frame's sprite must start at `*end`,
 * which moves past it. */
static int check_frame(const struct kob_bank *bank, kob_size size, unsigned n, kob_size *end,
                       struct kob_bank_fault *fault) {
  kob_size at = entry_offset(n);
  const unsigned char *entry = bank->data + at;
  unsigned kind = entry[KOB_ENTRY_KIND];
  fault->frame = n;
  if (kind > KOB_FRAME_MIRRORED) return refuse(fault, KOB_BANK_BAD_KIND, at, (kob_size)kind);
  if (entry[KOB_ENTRY_RESERVED] != 0)
    return refuse(fault, KOB_BANK_NOT_ZERO, at + KOB_ENTRY_RESERVED, (kob_size)entry[KOB_ENTRY_RESERVED]);
  if (kind == KOB_FRAME_STORED) return check_stored(bank, size, at, end, fault);
  if (kind != KOB_FRAME_EMPTY) return check_shared(bank, n, at, fault);
  if (nonzero(entry, at, KOB_ENTRY_SOURCE, 2, fault)) return fault->code;
  if (nonzero(entry, at, KOB_ENTRY_OFFSET, 4, fault)) return fault->code;
  if (nonzero(entry, at, KOB_ENTRY_LEFT, 2, fault)) return fault->code;
  if (nonzero(entry, at, KOB_ENTRY_TOP, 2, fault)) return fault->code;
  return KOB_BANK_OK;
}

int kob_bank_open(struct kob_bank *bank, const unsigned char *data, kob_size size, struct kob_bank_fault *fault) {
  struct kob_bank checked;
  kob_size end;
  unsigned n;
  fault->code = KOB_BANK_OK;
  fault->frame = 0;
  fault->sprite.code = KOB_OK;
  checked.data = data;
  if (check_header(&checked, data, size, fault) != KOB_BANK_OK) return fault->code;
  end = entry_offset(checked.frames);
  if (size < end) {
    fault->frame = (unsigned)((size - KOB_BANK_HEADER_SIZE) / KOB_ENTRY_SIZE);
    return refuse(fault, KOB_BANK_SHORT_TABLE, size, NO_VALUE);
  }
  for (n = 0; n < checked.frames; ++n) {
    if (check_frame(&checked, size, n, &end, fault) != KOB_BANK_OK) return fault->code;
  }
  if (end < size) return refuse(fault, KOB_BANK_TRAILING_DATA, end, size - end);
  *bank = checked;
  return KOB_BANK_OK;
}

/* The entry of the frame whose sprite frame n draws, or null for an empty
 * frame. */
static const unsigned char *stored_entry(const struct kob_bank *bank, unsigned n) {
  const unsigned char *entry = bank->data + entry_offset(n);
  if (entry[KOB_ENTRY_KIND] == KOB_FRAME_EMPTY) return 0;
  if (entry[KOB_ENTRY_KIND] == KOB_FRAME_STORED) return entry;
  return bank->data + entry_offset(read_le16(entry + KOB_ENTRY_SOURCE));
}

unsigned kob_bank_strips(const struct kob_bank *bank, unsigned n) {
  const unsigned char *entry = stored_entry(bank, n);
  return entry ? stored_width(bank->data, entry) : 0;
}

/* The offset just past a checked strip, counted from `start`. */
static kob_size past_strip(const unsigned char *start) {
  const unsigned char *record = start;
  unsigned control;
  for (; (control = *record) != KOB_END; record = KOB_NEXT_RECORD(record, control)) continue;
  return (kob_size)(record + 1 - start);
}

int kob_bank_frame(const struct kob_bank *bank, unsigned n, struct kob_frame *frame, kob_size *strips, unsigned count) {
  const unsigned char *entry = bank->data + entry_offset(n), *stored = stored_entry(bank, n);
  kob_size at = KOB_HEADER_SIZE;
  unsigned column, width = stored ? stored_width(bank->data, stored) : 0;
  if (width > count) return KOB_TABLE_TOO_SMALL;
  frame->sprite.data = stored ? bank->data + read_le32(stored + KOB_ENTRY_OFFSET) : bank->data;
  frame->sprite.width = width;
  frame->sprite.height = stored ? read_le16(frame->sprite.data + KOB_HEIGHT_OFFSET) : 0;
  frame->sprite.strip = strips;
  for (column = 0; column < width; ++column) {
    strips[column] = at;
    at += past_strip(frame->sprite.data + at);
  }
  frame->mirrored = entry[KOB_ENTRY_KIND] == KOB_FRAME_MIRRORED;
  frame->left = (int)read_le16(entry + KOB_ENTRY_LEFT);
  frame->top = (int)read_le16(entry + KOB_ENTRY_TOP);
  frame->hotspot_x = read_signed16(entry + KOB_ENTRY_HOTSPOT_X);
  frame->hotspot_y = read_signed16(entry + KOB_ENTRY_HOTSPOT_Y);
  return KOB_OK;
}

/* The part of the wording that names the frame, then the problem. */
void kob_bank_problem(const struct kob_bank_fault *fault, char *text) {
  unsigned frame = fault->frame;
  unsigned long value = fault->value;
  switch (fault->code) {
    case KOB_BANK_OK:
      sprintf(text, "no problem");
      break;
    case KOB_BANK_SHORT_HEADER:
      sprintf(text, "the file ends inside the header");
      break;
    case KOB_BANK_BAD_MAGIC:
      sprintf(text, "no KOBBVGAX magic");
      break;
    case KOB_BANK_BAD_CELL_WIDTH:
      sprintf(text, "cell width %lu outside %u to %u", value, KOB_MIN_DIMENSION, KOB_MAX_WIDTH);
      break;
    case KOB_BANK_BAD_CELL_HEIGHT:
      sprintf(text, "cell height %lu outside %u to %u", value, KOB_MIN_DIMENSION, KOB_BANK_MAX_CELL_HEIGHT);
      break;
    case KOB_BANK_BAD_ACROSS:
      sprintf(text, "%lu cells across, not 1 to a sheet %u pixels wide", value, KOB_BANK_MAX_SHEET);
      break;
    case KOB_BANK_BAD_FRAMES:
      sprintf(text, "%lu frames, not whole rows of cells within %u cells and %u pixels down", value, KOB_BANK_MAX_SHEET,
              KOB_BANK_MAX_SHEET);
      break;
    case KOB_BANK_SHORT_TABLE:
      sprintf(text, "the file ends inside frame %u's entry", frame);
      break;
    case KOB_BANK_BAD_KIND:
      sprintf(text, "frame %u: kind %lu, not %u to %u", frame, value, KOB_FRAME_EMPTY, KOB_FRAME_MIRRORED);
      break;
    case KOB_BANK_NOT_ZERO:
      sprintf(text, "frame %u: %lu in a field that must be 0", frame, value);
      break;
    case KOB_BANK_SELF_SOURCE:
      sprintf(text, "frame %u refers to itself", frame);
      break;
    case KOB_BANK_LATER_SOURCE:
      sprintf(text, "frame %u refers to the later frame %lu", frame, value);
      break;
    case KOB_BANK_MISSING_SOURCE:
      sprintf(text, "frame %u refers to frame %lu, past the last", frame, value);
      break;
    case KOB_BANK_UNSTORED_SOURCE:
      sprintf(text, "frame %u refers to frame %lu, which stores no sprite", frame, value);
      break;
    case KOB_BANK_BAD_PLACE:
      sprintf(text, "frame %u stands at %lu, not where its source's sprite puts it", frame, value);
      break;
    case KOB_BANK_SPRITE_PAST_END:
      sprintf(text, "frame %u's sprite at byte %lu, past the end of the file", frame, value);
      break;
    case KOB_BANK_MISPLACED_SPRITE:
      sprintf(text, "frame %u's sprite at byte %lu, not where the one before it ends", frame, value);
      break;
    case KOB_BANK_BAD_SPRITE:
      kob_problem(&fault->sprite, text + sprintf(text, "frame %u's sprite: ", frame));
      break;
    case KOB_BANK_EMPTY_SPRITE:
      sprintf(text, "frame %u's sprite has no opaque pixel", frame);
      break;
    case KOB_BANK_TOO_WIDE:
      sprintf(text, "frame %u reaches column %lu, past its cell", frame, value);
      break;
    case KOB_BANK_TOO_TALL:
      sprintf(text, "frame %u reaches row %lu, past its cell", frame, value);
      break;
    default:
      sprintf(text, "%lu bytes after the last sprite", value);
      break;
  }
}
