/* KOBVIEW: shows KOB sprites on a VGA in Mode X 320 x 240.
 *
 *   KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] [/C] [/R:n] sprite[@x,y[,H]] bank[n][@x,y[,H]] ...
 *
 * A DOS .COM program built with dev86 bcc (bcc -ansi -Md). Every file is
 * read and checked before the screen changes (viewer.c); this file is the
 * DOS side: the screen, the console and files, and the dump. Any failure
 * leaves the screen in text mode with one line on the console and
 * errorlevel 1.
 *
 * Memory: bcc's .COM keeps its code below its data segment, a 64 KiB one
 * that holds the program's data (under 8 KiB), the sprite arena (20 KiB), the
 * compiled code of /C (16 KiB) and, growing down from its top, the stack.
 *
 * The dump never lands on an input: the canonical names (TRUENAME) of the
 * dump, the palette and every sprite are compared before anything is
 * created, an input without one is refused, and an existing file is
 * replaced only when it is an earlier dump (see dump_replaceable). It is
 * written to a new file beside the target and renamed into
 * place once complete; an earlier dump is moved aside first and deleted
 * only after the new one is in place (DOS will not rename over a file), so
 * a failure leaves it as it was and removes only what the viewer created.
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kob.h"
#include "kobcomp.h"
#include "modex.h"
#include "viewer.h"

#define ARENA_WORDS 5120 /* 20 KiB of sprites and strip tables */
#define CODE_BYTES 16384 /* the sprites' compiled code, with /C */
#define NAME_SIZE 128    /* a canonical name, as TRUENAME writes it */
#define SPARE_NAMES 100  /* KOBV0000.TMP to KOBV0099.TMP beside the dump */
#define DUMP_SIZE ((long)MODEX_WIDTH * MODEX_HEIGHT + MODEX_PALETTE_SIZE) /* the page, then the DAC */

/* DOS services, int 21h. */
#define DOS_CREATE_NEW 0x5B00 /* fails when the file exists */
#define DOS_DELETE 0x4100
#define DOS_RENAME 0x5600      /* fails when the new name exists */
#define DOS_ATTRIBUTES 0x4300  /* cx: 01h read-only, 10h directory */
#define DOS_DEVICE_INFO 0x4400 /* dx bit 7: a character device */
#define DOS_TRUENAME 0x6000
#define ATTRIBUTE_READ_ONLY 0x01
#define ATTRIBUTE_DIRECTORY 0x10
#define DEVICE_BIT 0x80

static kob_size arena[ARENA_WORDS];
static unsigned char compiled_code[CODE_BYTES];
static unsigned char row[MODEX_WIDTH];
static char dump_name[NAME_SIZE];  /* the dump's canonical name */
static char temp_name[NAME_SIZE];  /* the new dump until it is complete */
static char aside_name[NAME_SIZE]; /* an earlier dump while the new one moves in */
static int dump_device;            /* the dump goes to a device: written directly */

/* The keyboard and DOS: bcc passes arguments on the stack, the first at
 * [sp+2], returns in ax, and lets a routine use ax to dx. */
/* clang-format off */
static void bios_wait_key(void) {
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

/* Registers in and out of int 21h: ax to di in, ax to dx back. DS and ES
 * both point at the program's one segment. */
struct dos_regs {
  unsigned ax, bx, cx, dx, si, di;
};

/* 1 when DOS reports a failure (carry set), else 0. */
static int dos_call(struct dos_regs *regs) {
#asm
  mov bx,sp
  push si
  push di
  push bp
  push es
  push ds
  pop es
  mov bp,[bx+2]
  mov ax,[bp]
  mov bx,[bp+2]
  mov cx,[bp+4]
  mov dx,[bp+6]
  mov si,[bp+8]
  mov di,[bp+10]
  push bp
  int 0x21
  pop bp
  mov [bp],ax
  mov [bp+2],bx
  mov [bp+4],cx
  mov [bp+6],dx
  sbb ax,ax
  neg ax
  pop es
  pop bp
  pop di
  pop si
#endasm
}
/* clang-format on */

/* ---- the seam of viewer.c ---- */

void view_print(const char *text, unsigned length) { write(1, text, length); }

int view_open(const char *path) { return open(path, O_RDONLY); }

long view_length(int file) { return lseek(file, 0L, SEEK_END); }

int view_read(int file, kob_size offset, unsigned char *into, unsigned size) {
  if (lseek(file, (long)offset, SEEK_SET) != (long)offset) return -1;
  return read(file, into, size);
}

void view_close(int file) { close(file); }

void view_draw_compiled(struct kob_target *target, const struct kob_sprite *sprite, const unsigned char *code, int x,
                        int y) {
  kob_draw_compiled(target, sprite, code, x, y);
}

/* ---- DOS files by name ---- */

static int dos_name_call(unsigned service, const char *name, const char *other, struct dos_regs *regs) {
  regs->ax = service;
  regs->bx = 0;
  regs->cx = 0;
  regs->dx = (unsigned)name;
  regs->si = (unsigned)name;
  regs->di = (unsigned)other;
  return dos_call(regs);
}

/* The canonical name of `path` into `name` (NAME_SIZE bytes); 0 when found. */
static int truename(const char *path, char *name) {
  struct dos_regs regs;
  return dos_name_call(DOS_TRUENAME, path, name, &regs);
}

static int dos_rename(const char *from, const char *to) {
  struct dos_regs regs;
  return dos_name_call(DOS_RENAME, from, to, &regs);
}

static void dos_delete(const char *name) {
  struct dos_regs regs;
  dos_name_call(DOS_DELETE, name, NULL, &regs);
}

/* A handle on a new file `name`, or -1 when it exists or cannot be made. */
static int create_new(const char *name) {
  struct dos_regs regs;
  if (dos_name_call(DOS_CREATE_NEW, name, NULL, &regs)) return -1;
  return (int)regs.ax;
}

static int is_device(int file) {
  struct dos_regs regs;
  regs.ax = DOS_DEVICE_INFO;
  regs.bx = (unsigned)file;
  regs.cx = regs.dx = regs.si = regs.di = 0;
  return !dos_call(&regs) && (regs.dx & DEVICE_BIT) != 0;
}

/* ---- the dump ---- */

/* 1, after its line, when the input `path` is the dump or cannot be told
 * apart from it: a file that opens but has no canonical name ("S.KOB.",
 * which DOS opens as S.KOB). One that does not open is left to its reader. */
static int clashes_with_dump(const char *path) {
  char name[NAME_SIZE];
  int file;
  if (truename(path, name) == 0) {
    if (strcmp(name, dump_name) != 0) return 0;
    return say_about("Dump file '%s' is also an input", dump_path);
  }
  file = open(path, O_RDONLY);
  if (file < 0) return 0;
  close(file);
  return say_about("Cannot tell whether '%s' is the dump file", path);
}

/* The dump must not be a file the run reads, by any spelling of its name. */
static int dump_over_input(void) {
  unsigned i;
  if (palette_path != NULL && clashes_with_dump(palette_path)) return 1;
  for (i = 0; i < sprite_count; ++i) {
    if (clashes_with_dump(sprites[i].path)) return 1;
  }
  return 0;
}

/* Names cannot show every alias (SUBST, JOIN, a network drive or a second
 * mount of one directory), so an existing file is replaced only when it is
 * an earlier dump, by its length, and no input of the run has that length.
 * A device is written directly. */
static int dump_replaceable(void) {
  unsigned i;
  long length;
  int file = open(dump_path, O_RDONLY);
  if (file < 0) return 0;
  dump_device = is_device(file);
  length = lseek(file, 0L, SEEK_END);
  close(file);
  if (dump_device) return 0;
  if (length != DUMP_SIZE) return say_about("Dump file '%s' exists and is not a dump", dump_path);
  for (i = 0; i < sprite_count; ++i) {
    if (sprites[i].length == (kob_size)DUMP_SIZE) return say_about("Dump file '%s' could be an input", dump_path);
  }
  return 0;
}

/* The `n`th spare name beside the dump into `name`; false when it is the
 * dump's own (/D:KOBV0000.TMP). */
static int spare_name(char *name, unsigned n) {
  char *last = strrchr(dump_name, '\\');
  unsigned directory = last == NULL ? 0 : (unsigned)(last + 1 - dump_name);
  memcpy(name, dump_name, directory);
  sprintf(name + directory, "KOBV%04u.TMP", n);
  return strcmp(name, dump_name) != 0;
}

/* A handle to write the dump through, or -1: the device itself, or a new
 * file beside the target, which must be a file the user may replace. */
static int open_dump(void) {
  struct dos_regs regs;
  unsigned n;
  int file;
  if (dump_device) return open(dump_path, O_WRONLY);
  if (!dos_name_call(DOS_ATTRIBUTES, dump_name, NULL, &regs) &&
      (regs.cx & (ATTRIBUTE_READ_ONLY | ATTRIBUTE_DIRECTORY)) != 0) {
    return -1;
  }
  for (n = 0; n < SPARE_NAMES; ++n) {
    if (!spare_name(temp_name, n)) continue;
    file = create_new(temp_name);
    if (file >= 0) return file;
  }
  return -1;
}

/* Renames the complete new dump over the target; false, with the target as
 * it was, when that cannot be done. */
static int place_dump(void) {
  unsigned n;
  if (dump_device || dos_rename(temp_name, dump_name) == 0) return 1;
  for (n = 0; n < SPARE_NAMES; ++n) {
    if (spare_name(aside_name, n) && strcmp(aside_name, temp_name) != 0 && dos_rename(dump_name, aside_name) == 0) {
      break;
    }
  }
  if (n == SPARE_NAMES) return 0;
  if (dos_rename(temp_name, dump_name) != 0) {
    dos_rename(aside_name, dump_name);
    return 0;
  }
  dos_delete(aside_name);
  return 1;
}

/* Closes the dump and removes what the viewer made of it. */
static void discard_dump(int file) {
  close(file);
  if (!dump_device) dos_delete(temp_name);
}

/* The visible page, row after row, then the DAC's 6-bit values. False when
 * a write fails. */
static int write_dump(int file) {
  unsigned y, i;
  for (y = 0; y < MODEX_HEIGHT; ++y) {
    modex_read_row(0, y, row);
    if (write(file, row, MODEX_WIDTH) != MODEX_WIDTH) return 0;
  }
  modex_get_palette(palette, 0, 256);
  for (i = 0; i < MODEX_PALETTE_SIZE; ++i) palette[i] = (unsigned char)(palette[i] >> 2);
  return write(file, palette, MODEX_PALETTE_SIZE) == MODEX_PALETTE_SIZE;
}

/* ---- the screen ---- */

static int show(void) {
  struct kob_target target;
  register const struct view_sprite *sprite;
  const struct view_sprite *last = sprites + sprite_count;
  unsigned round;
  int written;
  int dump = -1;
  if (dump_path != NULL) {
    dump = open_dump();
    if (dump < 0) return say_about("Cannot create file '%s'", dump_path);
  }
  modex_enter();
  if (palette_path != NULL) modex_set_palette(palette, 0, 256);
  modex_fill(0, MODEX_PAGE_BYTES, background);
  kob_target_init(&target, 0);
  for (round = 0; round < repeats; ++round) {
    for (sprite = sprites; sprite != last; ++sprite) {
      /* Sprites in memory, not mirrored, straight to their drawer; the
       * rest through draw_sprite. Only those have code. */
      if (sprite->code != NULL) {
        kob_draw_compiled(&target, &sprite->sprite, sprite->code, sprite->x, sprite->y);
        continue;
      }
      if (!sprite->mirrored && sprite->in_memory) {
        kob_draw(&target, &sprite->sprite, sprite->x, sprite->y);
        continue;
      }
      if (draw_sprite(&target, sprite)) continue;
      modex_leave();
      if (dump >= 0) discard_dump(dump);
      return say_about("Cannot read sprite file '%s'", sprite->path);
    }
  }
  if (dump < 0) {
    bios_wait_key();
    modex_leave();
    return 0;
  }
  written = write_dump(dump);
  modex_leave();
  if (close(dump) != 0) written = 0;
  if (written && place_dump()) return 0;
  if (!dump_device) dos_delete(temp_name);
  return say_about("Cannot write file '%s'", dump_path);
}

int main(int argc, char **argv) {
  if (parse_arguments(argc, argv)) return 1;
  if (dump_path != NULL && truename(dump_path, dump_name) != 0) return say_about("Cannot create file '%s'", dump_path);
  if (dump_path != NULL && dump_over_input()) return 1;
  if (palette_path != NULL && load_palette()) return 1;
  if (load_sprites(arena, ARENA_WORDS)) return 1;
  if (dump_path != NULL && dump_replaceable()) return 1;
  if (compiled_draws) compile_sprites(compiled_code, CODE_BYTES);
  return show();
}
