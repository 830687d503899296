; kob_draw_compiled for 32-bit flat protected mode (see kobcomp.h): checks that
; the sprite lies wholly inside the clip rectangle, then near-calls the code's
; driver for x mod 4 with EDI at the address of column 0 on the sprite's top
; row; otherwise hands the draw to kob_draw.
;
;   nasm -f elf32 -I modex/ -o kobcomp32.o modex/kobcomp32.asm    (ELF, gcc)
;   nasm -f coff -I modex/ -o kobcomp32.o modex/kobcomp32.asm     (DJGPP)
;
; cdecl: arguments on the stack, the first at [esp+4], the caller pops them;
; eax, ecx and edx are free; ebx, esi, edi and ebp are kept. Video memory is
; the flat address modex_vram points at. COFF names take a leading underscore.

%include "flat32.inc"

        global C(kob_draw_compiled)
        extern C(kob_draw)
        extern C(modex_vram)
        extern C(kob_map_mask)

; the arguments, from esp
ARG_TARGET equ 4
ARG_SPRITE equ 8
ARG_CODE equ 12
ARG_X equ 16
ARG_Y equ 20
; the code's header
FIELD equ 4                   ; KOB_COMPILED_FIELD
REACH equ 4 * FIELD           ; KOB_COMPILED_EXTENTS: how far into a plane DI may point
SELECT_SIZE equ 6             ; a driver's first select, skipped when made

section .text

; Every instruction here counts in a small sprite's draw: the checks go
; through eax, ecx and edx, and only edi is saved.
C(kob_draw_compiled):
        mov ecx, [esp+ARG_TARGET]
        cmp dword [ecx+TARGET_PITCH], SCREEN_PITCH
        jne .strips
        mov edx, [esp+ARG_SPRITE]

        ; 0 <= x <= right - width, as unsigned numbers once right - width
        ; is known not to be negative; and left <= x. The same for y.
        mov eax, [ecx+TARGET_RIGHT]
        sub eax, [edx+SPRITE_WIDTH]
        jl .strips
        cmp [esp+ARG_X], eax
        ja .strips
        mov eax, [esp+ARG_X]
        cmp eax, [ecx+TARGET_LEFT]
        jl .strips
        mov eax, [ecx+TARGET_BOTTOM]
        sub eax, [edx+SPRITE_HEIGHT]
        jl .strips
        cmp [esp+ARG_Y], eax
        ja .strips
        mov eax, [esp+ARG_Y]
        cmp eax, [ecx+TARGET_TOP]
        jl .strips

        ; EDI: the offset of column 0 on the top row, no further into the
        ; planes than the sprite's last byte allows: offsets wrap within
        ; their 64 KiB as in a 16-bit segment, and the code would not.
        push edi
        imul edi, [esp+ARG_Y+4], SCREEN_PITCH
        add edi, [ecx+TARGET_PAGE]
        mov eax, [esp+ARG_X+4]
        mov edx, eax
        shr edx, 2
        add edi, edx
        and eax, 3
        mov edx, [esp+ARG_CODE+4]
        cmp edi, [edx + eax*FIELD + REACH]
        ja .wraps

        ; The driver for x mod 4, past its first select when that plane is
        ; selected already.
        mov ecx, [C(kob_map_mask)]
        cmp ecx, [eax*4 + plane_masks]
        mov eax, [edx + eax*FIELD]
        lea eax, [eax + edx]
        jne .call
        add eax, SELECT_SIZE
.call:
        add edi, [C(modex_vram)]
        mov edx, SEQUENCER
        call eax
        movzx eax, ah               ; the mask the driver selected last
        mov [C(kob_map_mask)], eax
        pop edi
        ret

.wraps:
        pop edi
.strips:
        push dword [esp+ARG_Y]
        push dword [esp+ARG_X + 4]
        push dword [esp+ARG_SPRITE + 8]
        push dword [esp+ARG_TARGET + 12]
        call C(kob_draw)
        add esp, 16
        ret

TABLE_SECTION

plane_masks: dd 1, 2, 4, 8
