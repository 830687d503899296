/* Compiling checked KOB sprites into immediate stores (see kobcomp.h). */
#include "kobcomp.h"

#include "vgaregs.h"

#define MOV_BYTE 0xC6   /* mov r/m8, imm8 */
#define MOV_WORD 0xC7   /* mov r/m16, imm16; mov r/m32, imm32 in 32-bit code */
#define MAX_DISP8 127   /* the largest displacement the short form holds */
#define MOV_AX 0xB8     /* mov ax, imm16 */
#define OUT_DX_AX 0xEF  /* out dx, ax */
#define INC_DI 0x47     /* inc di; inc edi in 32-bit code */
#define CALL 0xE8       /* call rel16; call rel32 in 32-bit code */
#define RET 0xC3        /* the end of every body */
#define TRANSPARENT 256 /* a pixel no palette index can be */

#ifdef KOB_COMPILED_FLAT
#define OPERAND_SIZE 0x66 /* the prefix for 16-bit operands in 32-bit code */
#define AT_DI_DISP8 0x47  /* ModR/M: [edi + signed 8-bit displacement] */
#define AT_DI_DISP 0x87   /* ModR/M: [edi + 32-bit displacement] */
#define JMP 0xE9          /* jmp rel32: the last body's RET returns from the driver */
#define DRIVER_END_SIZE 0 /* so nothing follows the last body's jump */
#define SELECT_SIZE 6     /* mov ax, imm16 / out dx, ax, both with the prefix */
#define STORE_PIXELS 4    /* the most pixels one store takes: a dword */
#else
#define AT_DI_DISP8 0x45 /* ModR/M: [di + signed 8-bit displacement] */
#define AT_DI_DISP 0x85  /* ModR/M: [di + 16-bit displacement] */
#define RETF 0xCB        /* drivers are far-called: each ends with RETF */
#define DRIVER_END_SIZE 1
#define SELECT_SIZE 4  /* mov ax, imm16 / out dx, ax */
#define STORE_PIXELS 2 /* the most pixels one store takes: a word */
#endif
#define CALL_SIZE (1 + KOB_COMPILED_FIELD) /* call rel */

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

/* A header field, an offset or a displacement: KOB_COMPILED_FIELD bytes, low
 * byte first, of `value` taken modulo their range. */
static void put_field(unsigned char *at, kob_size value) {
  unsigned i;
  for (i = 0; i < KOB_COMPILED_FIELD; ++i, value >>= 8) at[i] = (unsigned char)(value & 0xFF);
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

/* mov [di+displacement], with `count` pixels, 1, 2 or 4 (32-bit code only),
 * as a byte, a word or a doubleword. */
static void emit_store(struct emitter *out, kob_size displacement, const unsigned *pixel, unsigned count) {
  unsigned char store[3 + KOB_COMPILED_FIELD + STORE_PIXELS];
  unsigned n = 0, i;
#ifdef KOB_COMPILED_FLAT
  if (count == 2) store[n++] = OPERAND_SIZE;
#endif
  store[n++] = count == 1 ? MOV_BYTE : MOV_WORD;
  if (displacement <= MAX_DISP8) {
    store[n++] = AT_DI_DISP8;
    store[n++] = (unsigned char)displacement;
  } else {
    store[n++] = AT_DI_DISP;
    put_field(store + n, displacement);
    n += KOB_COMPILED_FIELD;
  }
  for (i = 0; i < count; ++i) store[n++] = (unsigned char)pixel[i];
  emit(out, store, n);
}

/* Column `column` of the sprite decoded into `pixels`; all transparent past
 * its last. */
static void decode_column(const struct kob_sprite *sprite, unsigned column, unsigned *pixels) {
  unsigned row;
  if (column < sprite->width) {
    decode(sprite->data + sprite->strip[column], sprite->height, pixels);
    return;
  }
  for (row = 0; row < sprite->height; ++row) pixels[row] = TRANSPARENT;
}

/* The pixels a store at pixel `row` of the class's column in `slot` takes:
 * the opaque ones side by side from it in the class's next columns, as many
 * as the widest store that fits. */
static unsigned store_width(unsigned window[][KOB_MAX_HEIGHT], unsigned slot, unsigned row, unsigned *pixel) {
  unsigned count = 0;
  while (count < STORE_PIXELS && window[(slot + count) % STORE_PIXELS][row] != TRANSPARENT) {
    pixel[count] = window[(slot + count) % STORE_PIXELS][row];
    ++count;
  }
  if (count == 3) return 2;
  return count;
}

/* The stores of one class, column by column. Opaque pixels side by side in
 * the class's columns go into one store, the widest that fits, taken
 * greedily from the left, which is the fewest stores for every row. The
 * window holds the class's next STORE_PIXELS columns, the current one in
 * `slot`. */
static void emit_body(struct emitter *out, const struct kob_sprite *sprite, unsigned class) {
  static const unsigned char ret[1] = {RET};
  unsigned window[STORE_PIXELS][KOB_MAX_HEIGHT];
  unsigned pixel[STORE_PIXELS];
  unsigned c, row, slot, count, k;
  for (k = 0; k < STORE_PIXELS; ++k) decode_column(sprite, class + k * KOB_COMPILED_CLASSES, window[k]);
  for (c = class, slot = 0; c < sprite->width; c += KOB_COMPILED_CLASSES, slot = (slot + 1) % STORE_PIXELS) {
    for (row = 0; row < sprite->height; ++row) {
      count = store_width(window, slot, row, pixel);
      if (count == 0) continue;
      emit_store(out, (kob_size)row * KOB_COMPILED_PITCH + c / KOB_COMPILED_CLASSES, pixel, count);
      for (k = 1; k < count; ++k) window[(slot + k) % STORE_PIXELS][row] = TRANSPARENT; /* stored */
    }
    decode_column(sprite, c + STORE_PIXELS * KOB_COMPILED_CLASSES, window[slot]);
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
  return classes * (SELECT_SIZE + CALL_SIZE) + (shift + classes > KOB_COMPILED_CLASSES ? 1 : 0) + DRIVER_END_SIZE;
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
 * then retf, or in 32-bit code a jump to the last body instead of its call. */
static void emit_driver(struct emitter *out, const struct layout *layout, unsigned shift) {
  unsigned char step[SELECT_SIZE + 1 + CALL_SIZE];
  unsigned class, n;
  for (class = 0; class < layout->classes; ++class) {
    n = 0;
#ifdef KOB_COMPILED_FLAT
    step[n++] = OPERAND_SIZE;
#endif
    step[n++] = MOV_AX;
    step[n++] = VGA_MAP_MASK;
    step[n++] = (unsigned char)(1u << ((shift + class) % KOB_COMPILED_CLASSES));
#ifdef KOB_COMPILED_FLAT
    step[n++] = OPERAND_SIZE;
#endif
    step[n++] = OUT_DX_AX;
    if (shift + class == KOB_COMPILED_CLASSES) step[n++] = INC_DI;
    step[n++] = CALL;
#ifdef KOB_COMPILED_FLAT
    if (class + 1 == layout->classes) step[n - 1] = JMP;
#endif
    put_field(step + n, layout->body[class] - (out->size + n + KOB_COMPILED_FIELD));
    n += KOB_COMPILED_FIELD;
    emit(out, step, n);
  }
#ifndef KOB_COMPILED_FLAT
  step[0] = RETF;
  emit(out, step, 1);
#endif
}

/* The header's second field for a shift: the last byte the sprite covers
 * from its top left byte; in 32-bit code, how far into a plane its top left
 * byte may lie with that byte still inside. */
static kob_size reach(const struct kob_sprite *sprite, unsigned shift) {
  kob_size last =
      (kob_size)(sprite->height - 1) * KOB_COMPILED_PITCH + (shift + sprite->width - 1) / KOB_COMPILED_CLASSES;
#ifdef KOB_COMPILED_FLAT
  return KOB_COMPILED_PLANE_END - last;
#else
  return last;
#endif
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
    put_field(code + KOB_COMPILED_FIELD * shift, out.size);
    put_field(code + KOB_COMPILED_EXTENTS + KOB_COMPILED_FIELD * shift, reach(sprite, shift));
    emit_driver(&out, &layout, shift);
  }
  for (class = 0; class < layout.classes; ++class) emit_body(&out, sprite, class);
  return 1;
}
