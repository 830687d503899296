/* Compiling checked KOB sprites into immediate stores (see kobcomp.h). */
#include "kobcomp.h"

#define MOV_BYTE 0xC6     /* mov r/m8, imm8 */
#define MOV_WORD 0xC7     /* mov r/m16, imm16 */
#define AT_DI_DISP8 0x45  /* ModR/M: [di + signed 8-bit displacement] */
#define AT_DI_DISP16 0x85 /* ModR/M: [di + 16-bit displacement] */
#define MAX_DISP8 127     /* the largest displacement the short form holds */
#define MOV_AX 0xB8       /* mov ax, imm16 */
#define OUT_DX_AX 0xEF    /* out dx, ax */
#define INC_DI 0x47       /* inc di */
#define CALL 0xE8         /* call rel16, near */
#define RET 0xC3          /* the end of every body */
#define RETF 0xCB         /* the end of every driver */
#define MAP_MASK 2        /* the Sequencer's map mask register */
#define SELECT_SIZE 4     /* mov ax, imm16 / out dx, ax */
#define CALL_SIZE 3       /* call rel16 */
#define TRANSPARENT 256   /* a pixel no palette index can be */

/* Reads a checked strip one row at a time. */
struct strip_reader {
  const unsigned char *next;  /* the record after the one being read */
  const unsigned char *pixel; /* the record's next pixel */
  unsigned step;              /* 1 through a literal's pixels, 0 on a run */
  unsigned skip;              /* transparent rows left before the pixels */
  unsigned pixels;            /* pixels left */
};

static void start_strip(struct strip_reader *reader, const unsigned char *strip) {
  reader->next = strip;
  reader->skip = 0;
  reader->pixels = 0;
}

static void enter_record(struct strip_reader *reader) {
  const unsigned char *record = reader->next;
  unsigned control = record[0];
  if (control == KOB_END) {
    reader->skip = KOB_MAX_HEIGHT; /* transparent to the bottom */
    return;
  }
  reader->skip = record[1];
  reader->pixel = record + 2;
  if (control < KOB_RUN_BASE) {
    reader->pixels = control;
    reader->step = 1;
    reader->next = record + 2 + control;
  } else {
    reader->pixels = control - KOB_RUN_BASE;
    reader->step = 0;
    reader->next = record + 3;
  }
}

/* The strip's pixel on the next row: a palette index, or TRANSPARENT. */
static unsigned next_pixel(struct strip_reader *reader) {
  unsigned value;
  while (reader->skip == 0 && reader->pixels == 0) enter_record(reader);
  if (reader->skip > 0) {
    --reader->skip;
    return TRANSPARENT;
  }
  value = *reader->pixel;
  reader->pixel += reader->step;
  --reader->pixels;
  return value;
}

/* Counts the bytes of the code and, when `code` is not null, writes them. */
struct emitter {
  unsigned char *code;
  kob_size at;
};

static void emit(struct emitter *out, unsigned byte) {
  if (out->code) out->code[out->at] = (unsigned char)byte;
  ++out->at;
}

static void emit_word(struct emitter *out, unsigned word) {
  emit(out, word & 0xFF);
  emit(out, (word >> 8) & 0xFF);
}

/* mov byte [di+displacement], low; or, when `high` is a pixel too, the
 * word of both. */
static void emit_store(struct emitter *out, unsigned displacement, unsigned low, unsigned high) {
  emit(out, high == TRANSPARENT ? MOV_BYTE : MOV_WORD);
  if (displacement <= MAX_DISP8) {
    emit(out, AT_DI_DISP8);
    emit(out, displacement);
  } else {
    emit(out, AT_DI_DISP16);
    emit_word(out, displacement);
  }
  emit(out, low);
  if (high != TRANSPARENT) emit(out, high);
}

/* The stores of one class, column by column. A pixel whose neighbour in the
 * class's next column is opaque too goes with it into one word store, taken
 * greedily from the left, which is the fewest stores for every row. */
static void emit_body(struct emitter *out, const struct kob_sprite *sprite, unsigned class) {
  static const unsigned char empty_strip[1] = {KOB_END}; /* right of the last column */
  unsigned char stored[KOB_MAX_HEIGHT];                  /* 1 where a word store took this column's pixel */
  struct strip_reader column, neighbour;
  unsigned c, row, pixel, next;
  for (row = 0; row < sprite->height; ++row) stored[row] = 0;
  for (c = class; c < sprite->width; c += KOB_COMPILED_CLASSES) {
    start_strip(&column, sprite->data + sprite->strip[c]);
    if (c + KOB_COMPILED_CLASSES < sprite->width)
      start_strip(&neighbour, sprite->data + sprite->strip[c + KOB_COMPILED_CLASSES]);
    else
      start_strip(&neighbour, empty_strip);
    for (row = 0; row < sprite->height; ++row) {
      pixel = next_pixel(&column);
      next = next_pixel(&neighbour);
      if (stored[row] || pixel == TRANSPARENT) {
        stored[row] = 0;
        continue;
      }
      stored[row] = next != TRANSPARENT;
      emit_store(out, row * KOB_COMPILED_PITCH + c / KOB_COMPILED_CLASSES, pixel, next);
    }
  }
  emit(out, RET);
}

/* Where the parts of the code start: the bodies of the classes the sprite
 * has (its width, up to 4), and the end. */
struct layout {
  unsigned classes;
  kob_size body[KOB_COMPILED_CLASSES];
  kob_size end;
};

/* A driver selects each class's plane and calls its body; past plane 3 it
 * moves DI one byte right. */
static kob_size driver_size(unsigned classes, unsigned shift) {
  return classes * (SELECT_SIZE + CALL_SIZE) + (shift + classes > KOB_COMPILED_CLASSES ? 1 : 0) + 1;
}

static void lay_out(const struct kob_sprite *sprite, struct layout *layout) {
  struct emitter counter;
  unsigned shift, class;
  kob_size at = KOB_COMPILED_HEADER_SIZE;
  layout->classes = sprite->width < KOB_COMPILED_CLASSES ? sprite->width : KOB_COMPILED_CLASSES;
  for (shift = 0; shift < KOB_COMPILED_CLASSES; ++shift) at += driver_size(layout->classes, shift);
  for (class = 0; class < layout->classes; ++class) {
    layout->body[class] = at;
    counter.code = 0;
    counter.at = 0;
    emit_body(&counter, sprite, class);
    at += counter.at;
  }
  layout->end = at;
}

static void emit_driver(struct emitter *out, const struct layout *layout, unsigned shift) {
  unsigned class, plane;
  for (class = 0; class < layout->classes; ++class) {
    plane = (shift + class) % KOB_COMPILED_CLASSES;
    emit(out, MOV_AX);
    emit_word(out, (1u << plane) << 8 | MAP_MASK);
    emit(out, OUT_DX_AX);
    if (shift + class == KOB_COMPILED_CLASSES) emit(out, INC_DI);
    emit(out, CALL);
    emit_word(out, (unsigned)((layout->body[class] - (out->at + 2)) & 0xFFFF));
  }
  emit(out, RETF);
}

kob_size kob_compiled_size(const struct kob_sprite *sprite) {
  struct layout layout;
  lay_out(sprite, &layout);
  return layout.end;
}

int kob_compile(const struct kob_sprite *sprite, unsigned char *code, kob_size size) {
  struct layout layout;
  struct emitter out;
  unsigned shift, class;
  lay_out(sprite, &layout);
  if (layout.end > size || layout.end > KOB_COMPILED_MAX) return 0;
  out.code = code;
  out.at = KOB_COMPILED_HEADER_SIZE;
  for (shift = 0; shift < KOB_COMPILED_CLASSES; ++shift) {
    code[2 * shift] = (unsigned char)(out.at & 0xFF);
    code[2 * shift + 1] = (unsigned char)((out.at >> 8) & 0xFF);
    emit_driver(&out, &layout, shift);
  }
  for (class = 0; class < layout.classes; ++class) emit_body(&out, sprite, class);
  return 1;
}
