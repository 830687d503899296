/* Compiling checked KOB sprites into immediate stores (see kobcomp.h). */
#include "kobcomp.h"

#include "vgaregs.h"

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
#define SELECT_SIZE 4     /* mov ax, imm16 / out dx, ax */
#define CALL_SIZE 3       /* call rel16 */
#define TRANSPARENT 256   /* a pixel no palette index can be */

/* Each row of a checked strip: its palette index, or TRANSPARENT. */
static void decode(const unsigned char *record, unsigned height, unsigned *pixels) {
  unsigned row = 0, control, n;
  for (; (control = *record) != KOB_END; record = KOB_NEXT_RECORD(record, control)) {
    const unsigned char *data = KOB_RECORD_DATA(record);
    for (n = KOB_RECORD_SKIP(record); n > 0; --n) pixels[row++] = TRANSPARENT;
    for (n = 0; n < KOB_RECORD_PIXELS(control); ++n) pixels[row++] = data[KOB_IS_RUN(control) ? 0 : n];
  }
  while (row < height) pixels[row++] = TRANSPARENT;
}

/* A 16-bit value, low byte first. */
static void put_word(unsigned char *at, unsigned word) {
  at[0] = (unsigned char)(word & 0xFF);
  at[1] = (unsigned char)((word >> 8) & 0xFF);
}

/* Counts the bytes of the code and, when `next` is not null, writes them
 * there. */
struct emitter {
  unsigned char *next;
  kob_size size;
};

static void emit(struct emitter *out, const unsigned char *bytes, unsigned count) {
  unsigned i;
  out->size += count;
  if (!out->next) return;
  for (i = 0; i < count; ++i) *out->next++ = bytes[i];
}

/* mov byte [di+displacement], low; or, when `high` is a pixel too, the
 * word of both. */
static void emit_store(struct emitter *out, unsigned displacement, unsigned low, unsigned high) {
  unsigned char store[6];
  unsigned n = 0;
  store[n++] = high == TRANSPARENT ? MOV_BYTE : MOV_WORD;
  if (displacement <= MAX_DISP8) {
    store[n++] = AT_DI_DISP8;
    store[n++] = (unsigned char)displacement;
  } else {
    store[n++] = AT_DI_DISP16;
    put_word(store + n, displacement);
    n += 2;
  }
  store[n++] = (unsigned char)low;
  if (high != TRANSPARENT) store[n++] = (unsigned char)high;
  emit(out, store, n);
}

/* The stores of one class, column by column. A pixel whose neighbour in the
 * class's next column is opaque too goes with it into one word store, taken
 * greedily from the left, which is the fewest stores for every row. */
static void emit_body(struct emitter *out, const struct kob_sprite *sprite, unsigned class) {
  static const unsigned char ret[1] = {RET};
  unsigned first[KOB_MAX_HEIGHT], second[KOB_MAX_HEIGHT];
  unsigned *column = first, *neighbour = second, *decoded;
  unsigned c, row, height = sprite->height;
  decode(sprite->data + sprite->strip[class], height, column);
  for (c = class; c < sprite->width; c += KOB_COMPILED_CLASSES) {
    if (c + KOB_COMPILED_CLASSES < sprite->width)
      decode(sprite->data + sprite->strip[c + KOB_COMPILED_CLASSES], height, neighbour);
    else
      for (row = 0; row < height; ++row) neighbour[row] = TRANSPARENT;
    for (row = 0; row < height; ++row) {
      if (column[row] == TRANSPARENT) continue;
      emit_store(out, row * KOB_COMPILED_PITCH + c / KOB_COMPILED_CLASSES, column[row], neighbour[row]);
      neighbour[row] = TRANSPARENT; /* stored, if it was opaque */
    }
    decoded = column;
    column = neighbour;
    neighbour = decoded;
  }
  emit(out, ret, 1);
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
  counter.next = 0;
  counter.size = KOB_COMPILED_HEADER_SIZE;
  layout->classes = sprite->width < KOB_COMPILED_CLASSES ? sprite->width : KOB_COMPILED_CLASSES;
  for (shift = 0; shift < KOB_COMPILED_CLASSES; ++shift) counter.size += driver_size(layout->classes, shift);
  for (class = 0; class < layout->classes; ++class) {
    layout->body[class] = counter.size;
    emit_body(&counter, sprite, class);
  }
  layout->end = counter.size;
}

/* mov ax, mask << 8 | 2 / out dx, ax / (inc di) / call body, for each class;
 * then retf. */
static void emit_driver(struct emitter *out, const struct layout *layout, unsigned shift) {
  static const unsigned char retf[1] = {RETF};
  unsigned char step[SELECT_SIZE + 1 + CALL_SIZE];
  unsigned class, n, call;
  for (class = 0; class < layout->classes; ++class) {
    n = 0;
    step[n++] = MOV_AX;
    step[n++] = VGA_MAP_MASK;
    step[n++] = (unsigned char)(1u << ((shift + class) % KOB_COMPILED_CLASSES));
    step[n++] = OUT_DX_AX;
    if (shift + class == KOB_COMPILED_CLASSES) step[n++] = INC_DI;
    call = (unsigned)((layout->body[class] - (out->size + n + CALL_SIZE)) & 0xFFFF);
    step[n++] = CALL;
    put_word(step + n, call);
    n += 2;
    emit(out, step, n);
  }
  emit(out, retf, 1);
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
  out.next = code + KOB_COMPILED_HEADER_SIZE;
  out.size = KOB_COMPILED_HEADER_SIZE;
  for (shift = 0; shift < KOB_COMPILED_CLASSES; ++shift) {
    put_word(code + 2 * shift, (unsigned)out.size);
    put_word(code + KOB_COMPILED_EXTENTS + 2 * shift,
             (sprite->height - 1) * KOB_COMPILED_PITCH + (shift + sprite->width - 1) / KOB_COMPILED_CLASSES);
    emit_driver(&out, &layout, shift);
  }
  for (class = 0; class < layout.classes; ++class) emit_body(&out, sprite, class);
  return 1;
}
