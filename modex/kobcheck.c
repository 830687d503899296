/* Checking KOB sprites against every rule of the layout, and the words for
 * what is wrong with one. */
#include <stdio.h>

#include "kob.h"

static unsigned read_le16(const unsigned char *p) { return p[0] | (unsigned)p[1] << 8; }

static kob_size read_le32(const unsigned char *p) { return read_le16(p) | (kob_size)read_le16(p + 2) << 16; }

/* Every argument goes at its declared type: with bcc -ansi the prototypes
 * are gone, and nothing widens an int to a long on the way. */
#define NO_VALUE ((kob_size)0)

static int refuse(struct kob_fault *fault, int code, kob_size offset, kob_size value) {
  fault->code = code;
  fault->offset = offset;
  fault->value = value;
  return code;
}

int kob_check_header(const unsigned char *data, kob_size size, unsigned *width, unsigned *height,
                     struct kob_fault *fault) {
  unsigned i, rows, columns;
  kob_size reserved;
  fault->code = KOB_OK;
  fault->strip = 0;
  fault->height = 0;
  if (size < KOB_HEADER_SIZE) return refuse(fault, KOB_SHORT_HEADER, size, NO_VALUE);
  for (i = 0; i < KOB_MAGIC_SIZE; ++i) {
    if (data[i] != (unsigned char)KOB_MAGIC[i]) return refuse(fault, KOB_BAD_MAGIC, (kob_size)0, NO_VALUE);
  }
  rows = read_le16(data + KOB_HEIGHT_OFFSET);
  columns = read_le16(data + KOB_WIDTH_OFFSET);
  reserved = read_le32(data + KOB_RESERVED_OFFSET);
  if (rows < KOB_MIN_DIMENSION || rows > KOB_MAX_HEIGHT)
    return refuse(fault, KOB_BAD_HEIGHT, (kob_size)KOB_HEIGHT_OFFSET, (kob_size)rows);
  if (columns < KOB_MIN_DIMENSION || columns > KOB_MAX_WIDTH) {
    return refuse(fault, KOB_BAD_WIDTH, (kob_size)KOB_WIDTH_OFFSET, (kob_size)columns);
  }
  if (reserved != 0) return refuse(fault, KOB_BAD_RESERVED, (kob_size)KOB_RESERVED_OFFSET, reserved);
  *width = columns;
  *height = rows;
  return KOB_OK;
}

int kob_check_strip(const unsigned char *strip, kob_size size, unsigned height, unsigned column, kob_size *length,
                    struct kob_fault *fault) {
  kob_size at = 0;
  unsigned row = 0;
  fault->code = KOB_OK;
  fault->strip = column;
  fault->height = height;
  for (;;) {
    unsigned control, skip, pixels;
    if (at >= size) return refuse(fault, KOB_SHORT_STRIP, at, NO_VALUE);
    control = strip[at];
    if (control == KOB_END) break;
    if (control > KOB_MAX_LITERAL && control < KOB_RUN_BASE + KOB_MIN_RUN) {
      if (control == KOB_MAX_LITERAL + 1) return refuse(fault, KOB_CONTROL_127, at, (kob_size)control);
      return refuse(fault, KOB_SHORT_RUN, at, (kob_size)(control - KOB_RUN_BASE));
    }
    if (at + 1 >= size) return refuse(fault, KOB_SHORT_STRIP, size, NO_VALUE);
    skip = KOB_RECORD_SKIP(strip + at);
    if (skip > KOB_MAX_SKIP) return refuse(fault, KOB_SKIP_255, at + 1, (kob_size)skip);
    pixels = KOB_RECORD_PIXELS(control);
    if (skip == 0 && pixels == 0) return refuse(fault, KOB_EMPTY_RECORD, at, NO_VALUE);
    if (row + skip + pixels > height) return refuse(fault, KOB_ROWS_MISMATCH, at, (kob_size)(row + skip + pixels));
    if (size - at < KOB_RECORD_SIZE(control)) return refuse(fault, KOB_SHORT_STRIP, size, NO_VALUE);
    at += KOB_RECORD_SIZE(control);
    row += skip + pixels;
  }
  if (row != height) return refuse(fault, KOB_ROWS_MISMATCH, at, (kob_size)row);
  *length = at + 1;
  return KOB_OK;
}

int kob_scan_header(struct kob_scan *scan, const unsigned char *data, kob_size size, struct kob_fault *fault) {
  scan->column = 0;
  scan->at = KOB_HEADER_SIZE;
  return kob_check_header(data, size, &scan->width, &scan->height, fault);
}

int kob_scan_strip(struct kob_scan *scan, const unsigned char *window, kob_size size, kob_size length,
                   struct kob_fault *fault) {
  kob_size strip_length = 0;
  if (kob_check_strip(window, size, scan->height, scan->column, &strip_length, fault) != KOB_OK) {
    fault->offset += scan->at;
    return fault->code;
  }
  scan->at += strip_length;
  ++scan->column;
  if (scan->column == scan->width && length > scan->at) {
    return refuse(fault, KOB_TRAILING_DATA, scan->at, length - scan->at);
  }
  return KOB_OK;
}

int kob_open(struct kob_sprite *sprite, const unsigned char *data, kob_size size, kob_size *strips, unsigned count,
             struct kob_fault *fault) {
  struct kob_scan scan;
  if (kob_scan_header(&scan, data, size, fault) != KOB_OK) return fault->code;
  if (scan.width > count) return refuse(fault, KOB_TABLE_TOO_SMALL, (kob_size)KOB_WIDTH_OFFSET, (kob_size)scan.width);
  while (scan.column < scan.width) {
    strips[scan.column] = scan.at;
    if (kob_scan_strip(&scan, data + scan.at, size - scan.at, size, fault) != KOB_OK) return fault->code;
  }
  sprite->data = data;
  sprite->width = scan.width;
  sprite->height = scan.height;
  sprite->strip = strips;
  return KOB_OK;
}

void kob_problem(const struct kob_fault *fault, char *text) {
  unsigned strip = fault->strip;
  unsigned long value = fault->value;
  switch (fault->code) {
    case KOB_OK:
      sprintf(text, "no problem");
      break;
    case KOB_SHORT_HEADER:
      sprintf(text, "the file ends inside the header");
      break;
    case KOB_BAD_MAGIC:
      sprintf(text, "no KOB1VGAX magic");
      break;
    case KOB_BAD_HEIGHT:
      sprintf(text, "height %lu outside %u to %u", value, KOB_MIN_DIMENSION, KOB_MAX_HEIGHT);
      break;
    case KOB_BAD_WIDTH:
      sprintf(text, "width %lu outside %u to %u", value, KOB_MIN_DIMENSION, KOB_MAX_WIDTH);
      break;
    case KOB_BAD_RESERVED:
      sprintf(text, "reserved field is %lu, not 0", value);
      break;
    case KOB_SHORT_STRIP:
      sprintf(text, "the file ends inside strip %u", strip);
      break;
    case KOB_CONTROL_127:
      sprintf(text, "strip %u: control byte %u, a literal over %u pixels", strip, KOB_MAX_LITERAL + 1, KOB_MAX_LITERAL);
      break;
    case KOB_SHORT_RUN:
      sprintf(text, "strip %u: a run of %lu pixels, fewer than %u", strip, value, KOB_MIN_RUN);
      break;
    case KOB_SKIP_255:
      sprintf(text, "strip %u: a skip of %u, over %u", strip, KOB_MAX_SKIP + 1, KOB_MAX_SKIP);
      break;
    case KOB_EMPTY_RECORD:
      sprintf(text, "strip %u: a record with no skip and no pixels", strip);
      break;
    case KOB_ROWS_MISMATCH:
      sprintf(text, "strip %u covers %lu rows, header says %u", strip, value, fault->height);
      break;
    case KOB_TABLE_TOO_SMALL:
      sprintf(text, "%lu columns, more than the strip table holds", value);
      break;
    default:
      sprintf(text, "%lu byte%s after the last strip", value, value == 1 ? "" : "s");
      break;
  }
}
