; kob_draw_compiled for bcc's small model (see kobcomp.h): checks that the
; sprite lies wholly inside the clip rectangle, then far-calls the code's
; driver for x mod 4 with DS at video memory and DI at the byte of column 0
; on the sprite's top row; otherwise hands the draw to kob_draw.
;
; bcc's convention: arguments on the stack, the first at [sp+2], the caller
; pops them; ax, bx, cx and dx are free; si, di, bp, ds and es are kept.
; DS = SS = ES on entry, and CS is another segment.

        cpu     8086
        bits    16

        global  _kob_draw_compiled
        extern  _kob_draw
        extern  _kob_map_mask

%include "kob.inc"

PITCH           equ 80          ; KOB_COMPILED_PITCH

; the arguments, from bp
ARG_TARGET      equ 4
ARG_SPRITE      equ 6
ARG_CODE        equ 8
ARG_X           equ 10
ARG_Y           equ 12
; the code's header
EXTENTS         equ 8           ; KOB_COMPILED_EXTENTS
SELECT_SIZE     equ 4           ; a driver's first select, skipped when made
; the driver's far address, pushed below the saved si and di
DRIVER          equ -8

        section .text

_kob_draw_compiled:
        push    bp
        mov     bp, sp
        push    si
        push    di
        mov     si, [bp+ARG_TARGET]
        mov     bx, [bp+ARG_SPRITE]
        cmp     word [si+TARGET_PITCH], PITCH
        jne     .strips

        ; 0 <= x <= right - width, as unsigned numbers once right - width
        ; is known not to be negative; and left <= x. The same for y.
        mov     dx, [si+TARGET_RIGHT]
        sub     dx, [bx+SPRITE_WIDTH]
        jo      .strips
        js      .strips
        mov     ax, [bp+ARG_X]
        cmp     ax, dx
        ja      .strips
        cmp     ax, [si+TARGET_LEFT]
        jl      .strips
        mov     dx, [si+TARGET_BOTTOM]
        sub     dx, [bx+SPRITE_HEIGHT]
        jo      .strips
        js      .strips
        mov     ax, [bp+ARG_Y]
        cmp     ax, dx
        ja      .strips
        cmp     ax, [si+TARGET_TOP]
        jl      .strips

        ; DI: page + y * 80 + x / 4, the byte of column 0 on the top row,
        ; and the sprite's last byte from there, all within the 64 KiB of
        ; the planes: a word store may not wrap past the segment's end.
        mov     dx, PITCH
        mul     dx
        test    dx, dx
        jnz     .strips
        add     ax, [si+TARGET_PAGE]
        jc      .strips
        mov     di, [bp+ARG_X]
        mov     cx, di
        shr     di, 1
        shr     di, 1
        add     di, ax
        jc      .strips
        and     cx, 3
        mov     bx, cx
        shl     bx, 1
        add     bx, [bp+ARG_CODE]
        mov     ax, di
        add     ax, [bx+EXTENTS]
        jc      .strips

        ; The driver for x mod 4, past its first select when that plane
        ; is selected already; far-called at DS:code with DS
        ; at video memory.
        mov     ax, [bx]
        add     ax, [bp+ARG_CODE]
        mov     dx, 1
        shl     dx, cl
        cmp     [_kob_map_mask], dx
        jne     .call
        add     ax, SELECT_SIZE
.call:
        mov     dx, SEQUENCER
        push    ds
        push    ax
        mov     ax, VIDEO_SEGMENT
        mov     ds, ax
        call    far [bp+DRIVER]
        pop     cx
        pop     ds
        mov     al, ah
        xor     ah, ah
        mov     [_kob_map_mask], ax
.return:
        pop     di
        pop     si
        pop     bp
        ret

.strips:
        push    word [bp+ARG_Y]
        push    word [bp+ARG_X]
        push    word [bp+ARG_SPRITE]
        push    word [bp+ARG_TARGET]
        call    _kob_draw
        add     sp, 8
        jmp     .return
