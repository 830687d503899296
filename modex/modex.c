/* Mode X: the mode, page flipping, the palette and video memory, through
 * the registers every VGA has.
 *
 * Every call passes its arguments at their declared types: with bcc -ansi the
 * prototypes are gone, and nothing converts an argument on the way. */
#include "modex.h"

#include "kob.h"
#include "modexseam.h"
#include "vgaregs.h"

#ifdef MODEX_FLAT32_SEAM
#include <string.h>

unsigned char *modex_vram = (unsigned char *)0xA0000L;
#endif

#define ALL_PLANES 0x0F

#define MODE_13H 0x13
#define MODE_TEXT 0x03

static void write_register(unsigned port, unsigned index, unsigned value) {
  MODEX_OUT(port, index);
  MODEX_OUT(port + 1, value);
}

static unsigned read_register(unsigned port, unsigned index) {
  MODEX_OUT(port, index);
  return MODEX_IN(port + 1);
}

/* Every map mask written here goes into kob_map_mask too, so that the
 * drawers never trust a plane that is no longer selected. */
static void select_planes(unsigned mask) {
  write_register(VGA_SEQUENCER, VGA_MAP_MASK, mask);
  kob_map_mask = mask;
}

static void set_write_mode(unsigned mode) {
  unsigned graphics_mode = read_register(VGA_GRAPHICS, VGA_GRAPHICS_MODE);
  write_register(VGA_GRAPHICS, VGA_GRAPHICS_MODE, (graphics_mode & ~VGA_WRITE_MODE_BITS) | mode);
}

/* When the last modex_show returned (or modex_enter), in timer counts. */
static unsigned long shown_at;

/* The time in timer counts: the BIOS's ticks, and where channel 0 is within
 * the tick. Read again when a tick came between, since the count may then
 * belong to either. The difference of two is right for gaps under an hour. */
static unsigned long timer_now(void) {
  unsigned long ticks;
  unsigned status, count;
  do {
    ticks = MODEX_TICKS();
    MODEX_OUT(PIT_COMMAND, PIT_READ_BACK_0);
    status = MODEX_IN(PIT_CHANNEL_0);
    count = MODEX_IN(PIT_CHANNEL_0);
    count |= MODEX_IN(PIT_CHANNEL_0) << 8;
  } while (MODEX_TICKS() != ticks);
  return ticks * PIT_PERIOD + ((status & PIT_OUTPUT) != 0 ? 0 : PIT_PERIOD / 2) +
         (PIT_PERIOD - (count == 0 ? PIT_PERIOD : (long)count)) / 2;
}

/* Mode 13h's 400 lines at 70 Hz become 480 at 60 Hz, each row shown twice:
 * vertical total 525, retrace at 490-491, display end 479; doubleword mode
 * off, byte mode on. */
static const unsigned char crtc_240_lines[][2] = {
    {0x06, 0x0B}, /* vertical total: 525 lines, 2 more than its value */
    {0x07, 0x3E}, /* overflow */
    {0x09, 0x41}, /* maximum scan line: two per row */
    {0x10, 0xEA}, /* vertical retrace start */
    {0x11, 0xAC}, /* vertical retrace end, registers 0-7 locked again */
    {0x12, 0xDF}, /* vertical display end */
    {0x14, 0x00}, /* underline location: doubleword mode off */
    {0x15, 0xE7}, /* vertical blank start */
    {0x16, 0x06}, /* vertical blank end */
    {0x17, 0xE3}, /* mode control: byte mode */
};

void modex_enter(void) {
  unsigned i;
  MODEX_SET_MODE(MODE_13H);
  write_register(VGA_SEQUENCER, VGA_MEMORY_MODE, 0x06); /* chain 4 and odd/even off */
  write_register(VGA_SEQUENCER, VGA_RESET, 0x01);       /* synchronous reset while the clock changes */
  MODEX_OUT(VGA_MISC_OUTPUT, 0xE3);                     /* 25 MHz dot clock, 480-line sync polarity */
  write_register(VGA_SEQUENCER, VGA_RESET, 0x03);
  write_register(VGA_CRTC, VGA_VERTICAL_RETRACE_END, read_register(VGA_CRTC, VGA_VERTICAL_RETRACE_END) & 0x7F);
  for (i = 0; i < sizeof crtc_240_lines / sizeof crtc_240_lines[0]; ++i) {
    write_register(VGA_CRTC, crtc_240_lines[i][0], crtc_240_lines[i][1]);
  }
  write_register(VGA_CRTC, VGA_START_HIGH, 0);
  write_register(VGA_CRTC, VGA_START_LOW, 0);
  /* The BIOS cleared only what mode 13h addresses; all four pages, twice
   * half a plane, since a 16-bit count stops short of 65,536. */
  modex_fill(0, 0x8000, 0);
  modex_fill(0x8000, 0x8000, 0);
  shown_at = timer_now();
}

void modex_leave(void) {
  MODEX_SET_MODE(MODE_TEXT);
  kob_map_mask = 0;
}

static int in_retrace(void) { return (MODEX_IN(VGA_INPUT_STATUS) & VGA_VERTICAL_RETRACE) != 0; }

void modex_wait_retrace(void) {
  while (in_retrace()) continue;
  while (!in_retrace()) continue;
}

/* The VGA takes the start address at the start of the retrace: writing it
 * while the display is active means both bytes go in together. The frames
 * since the last return are the time since then in whole frames, rounded:
 * both returns came as a retrace began. */
unsigned modex_show(unsigned offset) {
  unsigned long now, frames;
  while (in_retrace()) continue;
  write_register(VGA_CRTC, VGA_START_HIGH, offset >> 8);
  write_register(VGA_CRTC, VGA_START_LOW, offset & 0xFF);
  while (!in_retrace()) continue;
  now = timer_now();
  frames = (now - shown_at + VGA_FRAME_COUNTS / 2) / VGA_FRAME_COUNTS;
  shown_at = now;
  if (frames == 0) return 1;
  return frames > 0xFFFFu ? 0xFFFFu : (unsigned)frames;
}

void modex_set_palette(const unsigned char *rgb, unsigned first, unsigned count) {
  unsigned i;
  MODEX_OUT(VGA_DAC_WRITE_INDEX, first);
  for (i = 0; i < 3 * count; ++i) MODEX_OUT(VGA_DAC_DATA, (unsigned)(rgb[i] >> 2));
}

void modex_get_palette(unsigned char *rgb, unsigned first, unsigned count) {
  unsigned i;
  MODEX_OUT(VGA_DAC_READ_INDEX, first);
  for (i = 0; i < 3 * count; ++i) rgb[i] = (unsigned char)(MODEX_IN(VGA_DAC_DATA) << 2);
}

void modex_fill(unsigned offset, unsigned count, unsigned colour) {
  select_planes(ALL_PLANES);
  MODEX_FILL(offset, count, colour);
}

/* In write mode 1 a store writes the latches, which the load before it
 * filled from all four planes. */
void modex_copy(unsigned from, unsigned to, unsigned count) {
  select_planes(ALL_PLANES);
  set_write_mode(1);
  MODEX_COPY(from, to, count);
  set_write_mode(0);
}

void modex_read_row(unsigned offset, unsigned y, unsigned char *pixels) {
  unsigned plane, x;
  unsigned row = offset + y * MODEX_PITCH;
  for (plane = 0; plane < 4; ++plane) {
    write_register(VGA_GRAPHICS, VGA_READ_MAP_SELECT, plane);
    for (x = plane; x < MODEX_WIDTH; x += 4) pixels[x] = (unsigned char)MODEX_LOAD(row + x / 4);
  }
}

/* One byte stored at a time: a row is written once, when a picture is put
 * on a page, not every frame. */
void modex_write_row(unsigned offset, unsigned y, const unsigned char *pixels) {
  unsigned plane, x;
  unsigned row = offset + y * MODEX_PITCH;
  for (plane = 0; plane < 4; ++plane) {
    select_planes(1u << plane);
    for (x = plane; x < MODEX_WIDTH; x += 4) MODEX_FILL(row + x / 4, 1, pixels[x]);
  }
}

#ifdef MODEX_BCC_SEAM
/* clang-format off */
/* bcc passes arguments on the stack, the first at [sp+2], returns in ax, and
 * lets a routine use ax, bx, cx and dx freely; si, di, bp, ds and es are
 * kept. */
void modex_bcc_out(unsigned port, unsigned value) {
#asm
  mov bx,sp
  mov dx,[bx+2]
  mov al,[bx+4]
  out dx,al
#endasm
}

unsigned modex_bcc_in(unsigned port) {
#asm
  mov bx,sp
  mov dx,[bx+2]
  in al,dx
  xor ah,ah
#endasm
}

/* Some BIOSes lose bp, si and di across INT 10h. */
void modex_bcc_set_mode(unsigned mode) {
#asm
  mov bx,sp
  mov al,[bx+2]
  xor ah,ah
  push bp
  push si
  push di
  int 0x10
  pop di
  pop si
  pop bp
#endasm
}

unsigned modex_bcc_load(unsigned offset) {
#asm
  mov bx,sp
  mov bx,[bx+2]
  push es
  mov ax,#0xA000
  mov es,ax
  seg es
  mov al,[bx]
  xor ah,ah
  pop es
#endasm
}

/* Word stores from an even offset, so that none straddles the end of the
 * segment; a byte first or last where needed. */
void modex_bcc_fill(unsigned offset, unsigned count, unsigned value) {
#asm
  mov bx,sp
  push di
  push es
  mov di,[bx+2]
  mov cx,[bx+4]
  mov al,[bx+6]
  mov ah,al
  mov dx,#0xA000
  mov es,dx
  cld
  jcxz modex_fill_done
  test di,#1
  jz modex_fill_even
  stosb
  dec cx
modex_fill_even:
  shr cx,#1
  rep
  stosw
  jnc modex_fill_done
  stosb
modex_fill_done:
  pop es
  pop di
#endasm
}

/* bcc returns an unsigned long in dx:ax. */
unsigned long modex_bcc_ticks(void) {
#asm
  push es
  mov ax,#0x40
  mov es,ax
  seg es
  mov ax,[0x6C]
  seg es
  mov dx,[0x6E]
  pop es
#endasm
}

void modex_bcc_copy(unsigned from, unsigned to, unsigned count) {
#asm
  mov bx,sp
  push si
  push di
  push ds
  push es
  mov si,[bx+2]
  mov di,[bx+4]
  mov cx,[bx+6]
  mov ax,#0xA000
  mov ds,ax
  mov es,ax
  cld
  rep
  movsb
  pop es
  pop ds
  pop di
  pop si
#endasm
}
/* clang-format on */
#endif

#ifdef MODEX_FLAT32_SEAM
void modex_flat_out(unsigned port, unsigned value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

unsigned modex_flat_in(unsigned port) {
  unsigned char value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
  return value;
}

/* Some BIOSes lose bp, si and di across INT 10h; the extender reflects the
 * interrupt to real mode with the general registers as they are. */
void modex_flat_set_mode(unsigned mode) {
  unsigned ax = mode & 0xFF;
  __asm__ __volatile__(
      "pushl %%ebp\n\tpushl %%esi\n\tpushl %%edi\n\tint $0x10\n\tpopl %%edi\n\tpopl %%esi\n\tpopl %%ebp"
      : "+a"(ax)
      :
      : "ebx", "ecx", "edx", "memory", "cc");
}

/* A byte at a time through a volatile pointer: each store in write mode 1
 * must follow the load of its own byte. */
void modex_flat_copy(unsigned from, unsigned to, unsigned count) {
  volatile unsigned char *vram = modex_vram;
  unsigned i;
  for (i = 0; i < count; ++i) vram[(to + i) & MODEX_PLANE_MASK] = vram[(from + i) & MODEX_PLANE_MASK];
}
#endif
