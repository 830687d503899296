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

; struct kob_target and struct kob_sprite as bcc lays them out
TARGET_PAGE     equ 0
TARGET_PITCH    equ 2
TARGET_LEFT     equ 4
TARGET_TOP      equ 6
TARGET_RIGHT    equ 8
TARGET_BOTTOM   equ 10
TARGET_MASK     equ 12
SPRITE_WIDTH    equ 2
SPRITE_HEIGHT   equ 4

PITCH           equ 80          ; KOB_COMPILED_PITCH
SEQUENCER       equ 3C4h        ; index port; the data port follows it
VIDEO           equ 0A000h      ; segment of video memory

; the arguments, from bp
ARG_TARGET      equ 4
ARG_SPRITE      equ 6
ARG_CODE        equ 8
ARG_X           equ 10
ARG_Y           equ 12
; the local, below the saved si and di: a far pointer to the driver
DRIVER          equ -8          ; offset
DRIVER_SEGMENT  equ -6          ; and segment, the data segment
LOCALS          equ 4
SELECT_SIZE     equ 4           ; a driver's first select, skipped when made

        section .text

_kob_draw_compiled:
        push    bp
        mov     bp, sp
        push    si
        push    di
        sub     sp, LOCALS
        mov     si, [bp+ARG_TARGET]
        mov     bx, [bp+ARG_SPRITE]
        cmp     word [si+TARGET_PITCH], PITCH
        jne     .strips

        ; 0 <= x, left <= x and x + width <= right; right - x cannot
        ; overflow once 0 <= x < right. The same for y.
        mov     ax, [bp+ARG_X]
        test    ax, ax
        js      .strips
        cmp     ax, [si+TARGET_LEFT]
        jl      .strips
        mov     dx, [si+TARGET_RIGHT]
        cmp     dx, ax
        jle     .strips
        sub     dx, ax
        cmp     dx, [bx+SPRITE_WIDTH]
        jb      .strips
        mov     ax, [bp+ARG_Y]
        test    ax, ax
        js      .strips
        cmp     ax, [si+TARGET_TOP]
        jl      .strips
        mov     dx, [si+TARGET_BOTTOM]
        cmp     dx, ax
        jle     .strips
        sub     dx, ax
        cmp     dx, [bx+SPRITE_HEIGHT]
        jb      .strips

        ; The sprite's last byte, page + (y + height - 1) * 80 + (x + width
        ; - 1) / 4, within the 64 KiB of the planes: a word store may not
        ; wrap past the segment's end.
        add     ax, [bx+SPRITE_HEIGHT]
        dec     ax
        mov     dx, PITCH
        mul     dx
        test    dx, dx
        jnz     .strips
        add     ax, [si+TARGET_PAGE]
        jc      .strips
        mov     cx, [bp+ARG_X]
        add     cx, [bx+SPRITE_WIDTH]
        dec     cx
        shr     cx, 1
        shr     cx, 1
        add     ax, cx
        jc      .strips

        ; DI: the byte of column 0 on the top row.
        mov     ax, [bp+ARG_Y]
        mov     dx, PITCH
        mul     dx
        add     ax, [si+TARGET_PAGE]
        mov     di, [bp+ARG_X]
        shr     di, 1
        shr     di, 1
        add     di, ax

        ; The driver for x mod 4, past its first select when the target
        ; has that plane selected already.
        mov     cx, [bp+ARG_X]
        and     cx, 3
        mov     bx, cx
        shl     bx, 1
        add     bx, [bp+ARG_CODE]
        mov     ax, [bx]
        add     ax, [bp+ARG_CODE]
        mov     dx, 1
        shl     dx, cl
        cmp     [si+TARGET_MASK], dx
        jne     .call
        add     ax, SELECT_SIZE
.call:
        mov     [bp+DRIVER], ax
        mov     [bp+DRIVER_SEGMENT], ds
        mov     dx, SEQUENCER
        push    ds
        mov     ax, VIDEO
        mov     ds, ax
        call    far [bp+DRIVER]
        pop     ds
        mov     al, ah
        xor     ah, ah
        mov     [si+TARGET_MASK], ax
        jmp     .return

.strips:
        push    word [bp+ARG_Y]
        push    word [bp+ARG_X]
        push    word [bp+ARG_SPRITE]
        push    word [bp+ARG_TARGET]
        call    _kob_draw
        add     sp, 8
.return:
        add     sp, LOCALS
        pop     di
        pop     si
        pop     bp
        ret
