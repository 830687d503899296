; The strip drawer for 32-bit flat protected mode: kob_draw, kob_draw_mirrored
; and kob_draw_strip with the contract of kob.h (clip rectangle, page, pitch,
; plane order, the map mask the library selected last in kob_map_mask, each
; visible opaque pixel stored once and nothing else), cdecl.
;
;   nasm -f elf32 -I modex/ -o kobdraw32.o modex/kobdraw32.asm    (ELF, gcc)
;   nasm -f coff -I modex/ -o kobdraw32.o modex/kobdraw32.asm     (DJGPP)
;
; COFF names take a leading underscore, as DJGPP's C names do.
;
; Calling convention (cdecl, as gcc and DJGPP use it; Open Watcom's __cdecl):
; arguments on the stack, the first at [esp+4], 32 bits each, the caller pops
; them; eax, ecx, edx and the flags change, ebx, esi, edi and ebp are kept.
; Video memory is the flat address modex_vram points at. Nothing is written
; but kob_map_mask, the map mask and video memory, and the stack holds all
; the state: no code is written at run time, and a draw may be interrupted by
; another (from an interrupt handler, say) that puts the map mask and
; kob_map_mask back as they were.
;
; How a strip is drawn at the screen's pitch. A record adds its skip's rows to
; edi through a table (k x 80), then jumps through a table indexed by its
; control byte to the stores: a run stores its colour once a row, a literal
; stores two pixels for each word it loads. A record of up to SHORT_RECORD
; pixels has a sequence of its own, entered with edi on its first row, which
; leaves edi there and looks up the next record's skip that many entries
; further on: one lookup passes both. A longer one first moves edi to the row
; below it (its pixels' rows, from a second table) and enters an unrolled
; sequence part way, so that the last store lands on its last row. Each
; record reads the two bytes past its control and skip before it knows what
; they are, so the drawer may read up to three bytes past a strip's end byte
; (never written).
;
; Columns go in plane order: the columns of one plane are 4 apart in the
; sprite and 1 byte apart on the screen. A column whose rows are all inside
; the clip rectangle takes the sequences above. When the rectangle cuts rows
; off above only, the records above it are passed by their counts, the first
; that reaches it is drawn from its first row inside, and the column goes on
; as a whole one. Columns cut off below, and every column at another pitch,
; take a plain walk that clips each record to the window.

%include "flat32.inc"

SHORT_RECORD equ 16           ; records this long have sequences of their own
PLANE_STEP equ 4 * STRIP_ENTRY ; from one column of a plane to its next
PITCH equ SCREEN_PITCH        ; the pitch the sequences are made for
PLANE_BYTES equ 10000h        ; video memory a plane holds

STORE_SIZE equ 6              ; mov [dword edi+disp32], al
PAIR_SIZE equ 2 * STORE_SIZE + 2 ; two stores and the lodsw that feeds them

; The end byte passes as a record this many rows long, past any window; the
; row table reaches past it and a record's skip.
END_PASSED equ 256
ROWS equ 256 + 256 + END_PASSED

; The draw's state, on the stack from esp.
COLUMN_DATA equ 0             ; the sprite's data
STEP equ 4                    ; from a column's strip entry to the next's
PLANE_ENTRY_STEP equ 8        ; from one plane's first entry to the next's
REMAINING equ 12              ; columns from the plane's first to the end, + 3
PLANE_X equ 16                ; the screen x of the plane's first column
PLANE_STRIP equ 20            ; its strip table entry
ROW0 equ 24                   ; the address of the sprite's row 0, column 0
COLUMNS equ 28                ; columns left in the plane
PLANES_LEFT equ 36
COLUMN_LOOP equ 40            ; whole_column, top_cut_column or clipped_column
FIRST_ROW equ 44              ; the window, for clipped columns
END_ROW equ 48
ABOVE equ 52                  ; minus the window's first row, times 256
ROW_PITCH equ 56
BELOW equ 60                  ; the row below a clipped column's record
ENTRY equ 64                  ; a clipped column's strip entry
WRAPS equ 68                  ; nonzero: clipped columns wrap their offsets
VRAM equ 72                   ; then: the planes' address
LOCALS equ 76
ARGS equ LOCALS + 20          ; past ebp, ebx, esi, edi and the return
X equ ARGS + 8
Y equ ARGS + 12

; Passes a record's skip and jumps to the sequence that draws it, with edi on
; the record's first row: ax holds its control and skip bytes, esi points
; past them, and the record drawn last left edi %1 rows above its end (a
; short record's sequence leaves edi on its first row; the table's entry %1
; further on adds those too). Only bl of ebx is ever set, and only ax of eax:
; their upper bits stay 0.
%macro NEXT_LOADED 1
        mov bl, ah
        add edi, [ebx*4 + skip_rows + 4 * %1]
        mov bl, al
        lodsw                       ; the first two pixels, or the colour
        jmp [ebx*4 + whole_entry]
%endmacro

%macro NEXT_RECORD 1
        lodsw                       ; control, skip
        NEXT_LOADED %1
%endmacro

; The same where the last word loaded ended with the record's control byte
; in ah, and esi points at its skip.
%macro NEXT_AFTER_ONE 1
        mov bl, [esi]
        add edi, [ebx*4 + skip_rows + 4 * %1]
        mov bl, ah
        mov ax, [esi+1]
        add esi, 3
        jmp [ebx*4 + whole_entry]
%endmacro

; Clips one axis: the sprite's ebx pixels from edx against eax to ecx
; (exclusive, never left of 0). Leaves the first and end pixel in eax and
; ecx, and flags "greater or equal" when nothing remains.
%macro CLIP_AXIS 0
        test eax, eax
        jns %%low
        xor eax, eax
%%low:
        sub eax, edx
        jns %%from
        xor eax, eax
%%from:
        sub ecx, edx
        cmp ecx, ebx
        jle %%to
        mov ecx, ebx
%%to:
        cmp eax, ecx
%endmacro

        global C(kob_draw)
        global C(kob_draw_mirrored)
        global C(kob_draw_strip)
        extern C(modex_vram)
        extern C(kob_map_mask)

section .text

; ---- entries -----------------------------------------------------------

; void kob_draw_strip(struct kob_target *target, const unsigned char *strip,
;                     unsigned height, int x, int y)
; Draws a sprite of one column on the stack, whose only strip starts at
; `strip`.
STRIP_SPRITE equ SPRITE_SIZE + STRIP_ENTRY ; the descriptor and its strip table
C(kob_draw_strip):
        sub esp, STRIP_SPRITE
        mov eax, [esp+STRIP_SPRITE+8]
        mov [esp+SPRITE_DATA], eax
        mov dword [esp+SPRITE_WIDTH], 1
        mov eax, [esp+STRIP_SPRITE+12]
        mov [esp+SPRITE_HEIGHT], eax
        lea eax, [esp+SPRITE_SIZE]
        mov [esp+SPRITE_STRIP], eax
        mov dword [esp+SPRITE_SIZE], 0
        mov eax, esp
        push dword [esp+STRIP_SPRITE+20] ; y
        push dword [esp+STRIP_SPRITE+20] ; x
        push eax
        push dword [esp+STRIP_SPRITE+16] ; the target
        mov ecx, PLANE_STEP
        call draw
        add esp, 16 + STRIP_SPRITE
        ret

; void kob_draw_mirrored(struct kob_target *target,
;                        const struct kob_sprite *sprite, int x, int y)
C(kob_draw_mirrored):
        mov ecx, -PLANE_STEP
        jmp draw

; void kob_draw(struct kob_target *target, const struct kob_sprite *sprite,
;               int x, int y)
C(kob_draw):
        mov ecx, PLANE_STEP

; ---- the draw ----------------------------------------------------------

; ecx: the step from one column's strip entry to the next of its plane.
draw:
        push ebp
        push ebx
        push esi
        push edi
        sub esp, LOCALS
        cld
        mov [esp+STEP], ecx
        sar ecx, 2
        mov [esp+PLANE_ENTRY_STEP], ecx
        mov edi, [esp+ARGS+4]       ; the sprite
        mov esi, [esp+ARGS]         ; the target
        mov eax, [edi+SPRITE_DATA]
        mov [esp+COLUMN_DATA], eax
        mov eax, [esi+TARGET_LEFT]
        mov ecx, [esi+TARGET_RIGHT]
        mov edx, [esp+X]
        mov ebx, [edi+SPRITE_WIDTH]
        CLIP_AXIS
        jge finish
        ; plane 0's first column: its screen x, its strip's entry, and the
        ; columns from it to the end
        sub ecx, eax
        add ecx, 3
        mov [esp+REMAINING], ecx
        add edx, eax
        mov [esp+PLANE_X], edx
        cmp dword [esp+STEP], 0
        jg .forward
        neg eax
        add eax, [edi+SPRITE_WIDTH]
        dec eax                     ; mirrored: the column at position p is width - 1 - p
.forward:
        shl eax, 2
        add eax, [edi+SPRITE_STRIP]
        mov [esp+PLANE_STRIP], eax
        mov eax, [esi+TARGET_TOP]
        mov ecx, [esi+TARGET_BOTTOM]
        mov edx, [esp+Y]
        mov ebx, [edi+SPRITE_HEIGHT]
        CLIP_AXIS
        jge finish
        mov [esp+FIRST_ROW], eax
        mov [esp+END_ROW], ecx
        mov ebx, [esi+TARGET_PITCH]
        mov [esp+ROW_PITCH], ebx
        imul edx, ebx
        add edx, [esi+TARGET_PAGE]  ; the offset of row 0, which may lie above the page
        ; Offsets wrap within a plane's 64 KiB, as in a 16-bit segment: a
        ; draw whose last visible byte lies past them takes the plain walk,
        ; which wraps every store.
        lea ebp, [ecx - 1]
        imul ebp, ebx
        add ebp, edx
        mov esi, [esp+PLANE_X]
        add esi, [esp+REMAINING]
        sub esi, 4
        shr esi, 2
        add ebp, esi
        cmp ebp, PLANE_BYTES - 1
        ja .wrapping
        mov dword [esp+WRAPS], 0
        add edx, [C(modex_vram)]
        ; Whole columns; or rows cut off above only, where a column goes
        ; on as a whole one after its first visible record; or a plain walk.
        cmp ebx, PITCH
        jne .clipped
        cmp ecx, [edi+SPRITE_HEIGHT]
        jne .clipped
        test eax, eax
        jnz .top_cut
        mov dword [esp+COLUMN_LOOP], whole_column
        jmp .columns
.top_cut:
        add edx, [eax*4 + skip_rows] ; its columns start from the window's first row
        imul eax, eax, -256
        mov [esp+ABOVE], eax
        mov dword [esp+COLUMN_LOOP], top_cut_column
        jmp .columns
.wrapping:
        mov dword [esp+WRAPS], 1
        mov eax, [C(modex_vram)]
        mov [esp+VRAM], eax
.clipped:
        mov dword [esp+COLUMN_LOOP], clipped_column
.columns:
        mov [esp+ROW0], edx
        mov dword [esp+PLANES_LEFT], 4

; Each plane: its first visible column, its mask selected unless the library
; selected it last (only the first plane's can be: from then on the plane
; before is), then every fourth column through the column loop.
%macro PLANE 1 ; 1 where the plane's mask may be selected already
        mov ecx, [esp+REMAINING]
        shr ecx, 2                  ; the plane's columns
%if %1 == 0
        jz finish                   ; the first plane has one at least
%endif
        mov [esp+COLUMNS], ecx
        mov ebx, [esp+PLANE_X]
        and ebx, 3
        mov eax, [ebx*4 + plane_selects]
        movzx ebx, ah               ; the mask
%if %1
        cmp [C(kob_map_mask)], ebx
        je %%selected
%endif
        mov [C(kob_map_mask)], ebx
        mov edx, SEQUENCER
        out dx, ax
%%selected:
        mov edx, [esp+PLANE_X]
        shr edx, 2
        add edx, [esp+ROW0]
        mov ebp, [esp+PLANE_STRIP]
        jmp [esp+COLUMN_LOOP]       ; the upper bits of eax and ebx are 0
%endmacro

        PLANE 1

plane_done:
        dec dword [esp+PLANES_LEFT]
        jz finish
        inc dword [esp+PLANE_X]
        dec dword [esp+REMAINING]
        mov eax, [esp+PLANE_ENTRY_STEP]
        add [esp+PLANE_STRIP], eax
        PLANE 0

finish:
        add esp, LOCALS
        pop edi
        pop esi
        pop ebx
        pop ebp
        ret

; ---- the column loops ---------------------------------------------------
; ebp: the column's strip table entry; edx: the address of its row 0 (of the
; window's first row in a top cut column).

whole_column:
        mov esi, [ebp]
        add esi, [esp+COLUMN_DATA]
        mov edi, edx
        NEXT_RECORD 0

; Every kind of column ends here, and goes on with the plane's next.
strip_end:
        add ebp, [esp+STEP]
        inc edx
        dec dword [esp+COLUMNS]
        jz plane_done
        jmp [esp+COLUMN_LOOP]

; A record of no pixels: what was loaded as its pixels is the next record.
; Most often it is the rows below a column's last pixels, and the strip ends.
skip_only:
        cmp al, KOB_END
        je strip_end
        NEXT_LOADED 0

; Rows cut off above only. ecx: the row below the last record passed, less
; the window's first row, times 256; records wholly above the window are
; passed by their counts alone, and the first that reaches it is drawn.
; Times 256, the record's control and skip word adds its skip and its
; control byte, and a table by the control byte turns that into its pixels.
%macro PASS 0
        lodsw
        add ecx, eax
        mov bl, al
        add ecx, [ebx*4 + pass_rows] ; the row below it, times 256; far below for the end
        jg top_cut_reached
        add esi, [ebx*4 + record_bytes]
%endmacro

top_cut_column:
        mov esi, [ebp]
        add esi, [esp+COLUMN_DATA]
        mov ecx, [esp+ABOVE]
        PASS
.next:
        PASS
        PASS
        PASS
        PASS
        jmp .next

; The record that reaches the window is drawn from the first row inside it,
; and the column goes on as a whole one. The end, far below, counts as a
; whole record of no pixels: its entry ends the strip.
top_cut_reached:
        shr ecx, 8                  ; the row below the record
        cmp ecx, [ebx*4 + record_pixels]
        jb .cut
        mov edi, [ecx*4 + skip_rows]
        add edi, edx
        lodsw
        jmp [ebx*4 + long_entry]    ; a whole one, from the row below it
.cut:
        mov edi, edx                ; what is left of it starts the window
        jmp [ebx*4 + cut_entry]     ; ecx of its pixels inside the window

; The part inside the window of a record cut by its top, ecx pixels: a run
; that long, or the literal's last ecx pixels.
top_cut_run:
        lodsw
        jmp [ecx*4 + cut_sequence + 4 * KOB_RUN_BASE]

top_cut_literal:
        add esi, [ebx*4 + record_pixels]
        sub esi, ecx
        lodsw
        jmp [ecx*4 + cut_sequence]

; A long one of those: edi to the row below it.
long_cut_run:
        add edi, [ecx*4 + record_rows]
        jmp [ecx*4 + long_entry + 4 * KOB_RUN_BASE]

long_cut_literal:
        add edi, [ecx*4 + record_rows]
        jmp [ecx*4 + long_entry]

; Rows cut off below, or another pitch: every record is clipped to the
; window and stored a row at a time. ecx: the record's first row; ebp: the
; rows to store.
clipped_column:
        mov [esp+ENTRY], ebp
        mov esi, [ebp]
        add esi, [esp+COLUMN_DATA]
        xor ecx, ecx
.record:
        movzx eax, byte [esi]
        cmp al, KOB_END
        je .end
        movzx ebx, byte [esi+1]
        add ecx, ebx
        cmp ecx, [esp+END_ROW]
        jae .end                    ; this record and the rest lie below
        mov ebp, [eax*4 + record_pixels]
        add ebp, ecx
        mov [esp+BELOW], ebp
        cmp ebp, [esp+END_ROW]
        jbe .low
        mov ebp, [esp+END_ROW]
.low:
        mov ebx, ecx                ; the first row to store
        cmp ebx, [esp+FIRST_ROW]
        jae .high
        mov ebx, [esp+FIRST_ROW]
.high:
        sub ebp, ebx
        jle .next
        mov edi, ebx
        imul edi, [esp+ROW_PITCH]
        add edi, edx
        cmp dword [esp+WRAPS], 0
        jne .wrapping
        test al, al
        js .run
        sub ebx, ecx                ; past the literal's pixels above the window
        lea ebx, [esi + ebx + 2]
.literal:
        mov al, [ebx]
        inc ebx
        mov [edi], al
        add edi, [esp+ROW_PITCH]
        dec ebp
        jnz .literal
        jmp .next
.run:
        mov al, [esi+2]
.run_row:
        mov [edi], al
        add edi, [esp+ROW_PITCH]
        dec ebp
        jnz .run_row
        jmp .next
; The same with edi an offset, wrapped within the planes at each store.
.wrapping:
        test al, al
        js .wrapping_run
        sub ebx, ecx
        lea ebx, [esi + ebx + 2]
.wrapping_literal:
        mov al, [ebx]
        inc ebx
        mov ecx, edi
        and ecx, PLANE_BYTES - 1
        add ecx, [esp+VRAM]
        mov [ecx], al
        add edi, [esp+ROW_PITCH]
        dec ebp
        jnz .wrapping_literal
        jmp .next
.wrapping_run:
        mov al, [esi+2]
.wrapping_run_row:
        mov ecx, edi
        and ecx, PLANE_BYTES - 1
        add ecx, [esp+VRAM]
        mov [ecx], al
        add edi, [esp+ROW_PITCH]
        dec ebp
        jnz .wrapping_run_row
.next:
        movzx eax, byte [esi]
        add esi, [eax*4 + record_bytes]
        add esi, 2
        mov ecx, [esp+BELOW]
        jmp .record
.end:
        mov ebp, [esp+ENTRY]
        jmp strip_end

; ---- the store sequences -------------------------------------------------
; Each is entered part way with edi on the row below the record's last and
; ax loaded from the record's first bytes. A record of more than
; SHORT_RECORD pixels comes here from long_record. Every store has a 32-bit
; displacement, so that the entries lie a fixed size apart.

; A literal of an even count: pairs from the top.
whole_even:
%assign m KOB_MAX_LITERAL
%rep KOB_MAX_LITERAL / 2
        mov [dword edi - m * PITCH], al
        mov [dword edi - (m - 1) * PITCH], ah
%if m > 2
        lodsw
%endif
%assign m m - 2
%endrep
        NEXT_RECORD 0

; A literal of an odd count: pairs, then the last pixel alone; its lodsw took
; one byte too many.
whole_odd:
%assign m KOB_MAX_LITERAL - 1
%rep (KOB_MAX_LITERAL - 1) / 2
        mov [dword edi - m * PITCH], al
        mov [dword edi - (m - 1) * PITCH], ah
        lodsw
%assign m m - 2
%endrep
        mov [dword edi - PITCH], al
        NEXT_AFTER_ONE 0

; A run: the colour once a row; its lodsw took one byte too many.
whole_runs:
%assign m KOB_MAX_RUN
%rep KOB_MAX_RUN
        mov [dword edi - m * PITCH], al
%assign m m - 1
%endrep
        NEXT_AFTER_ONE 0

; A long record of the whole sequences: edi to the row below it.
long_record:
        add edi, [ebx*4 + record_rows]
        jmp [ebx*4 + long_entry]

; A short record's own sequence, from edi on its first row, ax loaded from
; its first bytes: a literal of n pixels, or a run of n rows.
%macro SHORT_LITERAL 1
%assign m 0
%rep %1 / 2
        mov [edi + m * PITCH], al
        mov [edi + (m + 1) * PITCH], ah
%if m + 2 < %1
        lodsw
%endif
%assign m m + 2
%endrep
%if %1 % 2
        mov [edi + m * PITCH], al
        NEXT_AFTER_ONE %1
%else
        NEXT_RECORD %1
%endif
%endmacro

%macro SHORT_RUN 1
%assign m 0
%rep %1
        mov [edi + m * PITCH], al
%assign m m + 1
%endrep
        NEXT_AFTER_ONE %1
%endmacro

%assign n 1
%rep SHORT_RECORD
short_literal_ %+ n: SHORT_LITERAL n
short_run_ %+ n: SHORT_RUN n
%assign n n + 1
%endrep

TABLE_SECTION

; k x 80 for every k
skip_rows:
%assign k 0
%rep ROWS
        dd k * PITCH
%assign k k + 1
%endrep

; The pixels of a record by its control byte; 0 for 127, 128 and the end.
; Runs of 1 and 2 never occur in a strip, but what is left of a cut run is
; drawn as one.
%macro PIXELS_OF 1
%if %1 <= KOB_MAX_LITERAL
%assign n %1
%elif %1 > KOB_RUN_BASE && %1 < KOB_END
%assign n %1 - KOB_RUN_BASE
%else
%assign n 0
%endif
%endmacro

record_pixels:
%assign c 0
%rep 256
        PIXELS_OF c
        dd n
%assign c c + 1
%endrep

; What passing a record above the window adds to its control and skip word:
; its rows times 256 less its control byte; for the end, rows past any window.
pass_rows:
%assign c 0
%rep 256
        PIXELS_OF c
%if c == KOB_END
        dd END_PASSED * 256 - c
%else
        dd n * 256 - c
%endif
%assign c c + 1
%endrep

; The bytes after a record's skip byte.
record_bytes:
%assign c 0
%rep 256
        PIXELS_OF c
%if n == 0
        dd 0
%elif c >= KOB_RUN_BASE
        dd 1
%else
        dd n
%endif
%assign c c + 1
%endrep

; The rows a record covers, by its control byte: pixels x 80
record_rows:
%assign c 0
%rep 256
        PIXELS_OF c
        dd n * PITCH
%assign c c + 1
%endrep

; Where each control byte's record is drawn from with edi on the row below
; it: the store for its first row within its sequence.
long_entry:
%assign c 0
%rep 256
        PIXELS_OF c
%if c == 0
        dd skip_only
%elif n == 0
        dd strip_end
%elif c >= KOB_RUN_BASE
        dd whole_runs + STORE_SIZE * (KOB_MAX_RUN - n)
%elif n % 2 == 0
        dd whole_even + PAIR_SIZE * (KOB_MAX_LITERAL - n) / 2
%else
        dd whole_odd + PAIR_SIZE * (KOB_MAX_LITERAL - 1 - n) / 2
%endif
%assign c c + 1
%endrep

; Where each control byte's record is drawn from with edi on its first row:
; a short record's own sequence, or a long one's way in.
%macro FROM_FIRST_ROW 4 ; the record of no pixels, the end, a long literal, a long run
%assign c 0
%rep 256
        PIXELS_OF c
%if c == 0
        dd %1
%elif n == 0
        dd %2
%elif n > SHORT_RECORD && c >= KOB_RUN_BASE
        dd %4
%elif n > SHORT_RECORD
        dd %3
%elif c >= KOB_RUN_BASE
        dd short_run_ %+ n
%else
        dd short_literal_ %+ n
%endif
%assign c c + 1
%endrep
%endmacro

whole_entry: FROM_FIRST_ROW skip_only, strip_end, long_record, long_record
; The part of a record cut by the window's top, by its own length.
cut_sequence: FROM_FIRST_ROW strip_end, strip_end, long_cut_literal, long_cut_run

; How the part inside the window of a record cut by its top is drawn.
cut_entry:
%assign c 0
%rep 256
%if c >= KOB_RUN_BASE
        dd top_cut_run
%else
        dd top_cut_literal
%endif
%assign c c + 1
%endrep

; the map mask's index, then the mask
plane_selects: dd MAP_MASK + 100h, MAP_MASK + 200h, MAP_MASK + 400h, MAP_MASK + 800h
