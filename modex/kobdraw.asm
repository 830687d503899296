; The strip drawer for 16-bit real mode on a 386 or later: kob_draw,
; kob_draw_mirrored and kob_draw_strip with the contract of kob.h (clip
; rectangle, page, pitch, plane order, the map mask the library selected
; last in kob_map_mask, each visible opaque pixel stored once and nothing
; else), for dev86 bcc's small model.
;
; nasm -f as86 writes an object that ld86 links with bcc's (nasm -f obj, OMF,
; for linkers that take those).
;
; Calling convention (bcc's): near calls, arguments on the stack, the first at
; [sp+2], the caller pops them; DS = ES = SS, all data and the stack in that
; one segment, the code in CS (bcc's .COM puts DS past the code). ax, bx, cx
; and dx may change, and the upper halves of eax, ebx, ecx and edx; si, di, bp,
; ds and es are kept. The arguments' slots are ours, as in C: kob_draw_strip
; may rewrite them.
;
; How a strip is drawn. A record adds its skip's rows to es:di through a table
; (k x pitch), then jumps through a table indexed by its control byte to the
; stores: a run stores its colour once a row, a literal stores two pixels for
; each word it loads. A record of up to SHORT_RECORD pixels has a sequence of
; its own, entered with di on its first row, which leaves di there and looks
; up the next record's skip that many entries further on: one lookup passes
; both. A longer one first moves di to the row below it (its pixels' rows,
; from a second table) and enters an unrolled sequence part way, so that the
; last store lands on its last row. The pitch sits in the sequences'
; displacements and the row tables; a draw with another pitch than the last
; rewrites them first. Each record reads the two bytes past its
; control and skip before it knows what they are, so the drawer may read up to
; three bytes past a strip's end byte (never written, and harmless in a .COM,
; whose stack lies above its data).
;
; Columns go in plane order: the columns of one plane are 4 apart in the
; sprite and 1 byte apart on the screen. A column whose rows are all inside
; the clip rectangle takes the sequences above. When the rectangle cuts rows
; off above only, the records above it are passed by their counts, the first
; that reaches it is drawn from its first row inside, and the column goes on
; as a whole one. When it cuts rows off below, every record is clipped to the
; window and a copy of the sequences with another ending stores its part.

bits 16
cpu 386

%include "kob.inc"

SHORT_RECORD equ 16           ; records this long have sequences of their own
MAX_ROWS equ 256 + SHORT_RECORD ; row table entries: every skip, every height, and a short record's rows past a skip

STRIP_ENTRY equ 4             ; bytes of one strip table entry (a kob_size)
PLANE_STEP equ 4 * STRIP_ENTRY ; from one column of a plane to its next
FIRST_PITCH equ 80            ; the pitch the sequences are assembled for

STORE_SIZE equ 5              ; mov [es:di+disp16],al: the disp16 at byte 3
DISP_AT equ 3
PAIR_SIZE equ 2 * STORE_SIZE + 1 ; two stores and the lodsw that feeds them

; Passes a record's skip and jumps to the sequence that draws it, with di on
; the record's first row: ax holds its control and skip bytes, si points past
; them, and the record drawn last left di %1 rows above its end (a short
; record's sequence leaves di on its first row; the table's entry %1 further
; on adds those too).
%macro NEXT_LOADED 1
        mov bl, ah
        add di, [ebx*2 + skip_rows + 2 * %1]
        mov bl, al
        lodsw                       ; the first two pixels, or the colour
        jmp [ebx*2 + whole_entry]
%endmacro

%macro NEXT_RECORD 1
        lodsw                       ; control, skip
        NEXT_LOADED %1
%endmacro

; The same where the last word loaded ended with the record's control byte
; in ah, and si points at its skip.
%macro NEXT_AFTER_ONE 1
        mov bl, [si]
        add di, [ebx*2 + skip_rows + 2 * %1]
        mov bl, ah
        mov ax, [si+1]
        add si, 3
        jmp [ebx*2 + whole_entry]
%endmacro

        global _kob_draw
        global _kob_draw_mirrored
        global _kob_draw_strip
        extern _kob_map_mask

; OMF (nasm -f obj) for other small-model compilers: their segment names,
; data and stack in DGROUP.
%ifidn __OUTPUT_FORMAT__, obj
%define CODE_SECTION segment _TEXT public class=CODE use16
%define DATA_SECTION segment _DATA public class=DATA use16
%define BSS_SECTION segment _BSS public class=BSS use16
group DGROUP _DATA _BSS
%else
%define CODE_SECTION section .text
%define DATA_SECTION section .data
%define BSS_SECTION section .bss
%endif

CODE_SECTION

; Clips one axis in 32 bits, so that no position overflows: the sprite's ebx
; pixels from edx against eax to ecx (exclusive, never left of 0). Leaves the
; first and end pixel in ax and cx, and flags "greater or equal" when nothing
; remains.
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

; ---- entries -----------------------------------------------------------

; Saved: bp, si, di, es.
ARGS equ 10                   ; from bp to the first argument
X equ ARGS + 4
Y equ ARGS + 6

; void kob_draw_strip(struct kob_target *target, const unsigned char *strip,
;                     unsigned height, int x, int y)
; A streaming reader calls this once a column: a column wholly inside the
; rectangle at the pitch last drawn goes straight to its records; any other is
; drawn as a one-column sprite whose only strip starts at `strip`.
_kob_draw_strip:
        push si
        push di
        push es
        mov bx, sp                  ; the arguments from [bx+8]
        mov si, [bx+8]
        mov ax, [si+TARGET_PITCH]
        cmp ax, [patched_pitch]
        jne .as_sprite
        movsx eax, word [bx+16]     ; y
        test ax, ax
        js .as_sprite
        cmp ax, [si+TARGET_TOP]
        jl .as_sprite
        movzx edx, word [bx+12]
        add edx, eax
        movsx ecx, word [si+TARGET_BOTTOM]
        cmp edx, ecx
        jg .as_sprite
        movzx ecx, word [bx+14]     ; x
        test cx, cx
        js strip_finish
        cmp cx, [si+TARGET_LEFT]
        jl strip_finish
        cmp cx, [si+TARGET_RIGHT]
        jge strip_finish
        imul ax, [si+TARGET_PITCH]
        add ax, [si+TARGET_PAGE]
        mov di, cx
        shr di, 2
        add di, ax
        and cx, 3
        mov cx, [ecx*2 + plane_mask_words]
        cmp [_kob_map_mask], cx
        je .selected
        mov [_kob_map_mask], cx
        mov ah, cl
        mov al, MAP_MASK
        mov dx, SEQUENCER
        out dx, ax
.selected:
        mov ax, VIDEO_SEGMENT
        mov es, ax
        mov si, [bx+10]
        xor ebx, ebx
        NEXT_RECORD 0

.as_sprite:
        pop es
        pop di
        pop si
        push bp
        push si
        push di
        push es
        mov bp, sp
        jmp strip_as_sprite

strip_finish:
        pop es
        pop di
        pop si
        ret

strip_as_sprite:
        mov word [plane_step], STRIP_ENTRY
        mov word [step], PLANE_STEP
        mov ax, [bp+ARGS+2]
        mov [strip_sprite + SPRITE_DATA], ax
        mov ax, [bp+ARGS+4]
        mov [strip_sprite + SPRITE_HEIGHT], ax
        mov ax, [bp+ARGS+6]
        mov [bp+X], ax              ; the arguments are ours: x and y where
        mov ax, [bp+ARGS+8]         ; kob_draw has them
        mov [bp+Y], ax
        mov di, strip_sprite
        jmp draw

; void kob_draw_mirrored(struct kob_target *target,
;                        const struct kob_sprite *sprite, int x, int y)
_kob_draw_mirrored:
        mov word [plane_step], -STRIP_ENTRY
        mov word [step], -PLANE_STEP
        jmp sprite_entry

; void kob_draw(struct kob_target *target, const struct kob_sprite *sprite,
;               int x, int y)
_kob_draw:
        mov word [plane_step], STRIP_ENTRY
        mov word [step], PLANE_STEP
sprite_entry:
        push bp
        push si
        push di
        push es
        mov bp, sp
        mov di, [bp+ARGS+2]


; ---- the draw ----------------------------------------------------------

; bp: the frame, with x and y where kob_draw has them; di: the sprite.
draw:
        mov ax, [di+SPRITE_DATA]
        mov [data], ax
        mov si, [bp+ARGS]
        mov ax, [si+TARGET_PITCH]
        cmp ax, [patched_pitch]
        je .patched
        call patch_pitch
.patched:
        movsx eax, word [si+TARGET_LEFT]
        movsx ecx, word [si+TARGET_RIGHT]
        movsx edx, word [bp+X]
        movzx ebx, word [di+SPRITE_WIDTH]
        CLIP_AXIS
        jge finish
        ; plane 0's first column: its screen x, its strip's entry, and the
        ; columns from it to the end
        sub cx, ax
        add cx, 3
        mov [remaining], cx
        add dx, ax                  ; edx: x, from the clipping
        mov [plane_x], dx
        cmp word [step], 0
        jg .forward
        neg ax
        add ax, [di+SPRITE_WIDTH]
        dec ax                      ; mirrored: the column at position p is width - 1 - p
.forward:
        shl ax, 2
        add ax, [di+SPRITE_STRIP]
        mov [plane_strip], ax
        movsx eax, word [si+TARGET_TOP]
        movsx ecx, word [si+TARGET_BOTTOM]
        movsx edx, word [bp+Y]
        movzx ebx, word [di+SPRITE_HEIGHT]
        CLIP_AXIS
        jge finish
        mov bx, ax                  ; the first row; the upper half of ebx is 0 from the height
        ; the column's top row wraps like unsigned arithmetic when above the page
        imul dx, [si+TARGET_PITCH]  ; edx: y, from the clipping
        add dx, [si+TARGET_PAGE]
        ; Whole columns; or rows cut off above only, where a column goes
        ; on as a whole one after its first visible record; or rows cut off
        ; below, where every record is clipped.
        cmp cx, [di+SPRITE_HEIGHT]
        jne .below
        test bx, bx
        jnz .top_cut
        mov word [column_loop], whole_column
        mov word [whole_entry], whole_skip_only
        mov word [whole_entry + 2 * KOB_END], whole_strip_end
        jmp .columns
.below:
        mov [first_row], bx
        mov [end_row], cx
        imul eax, ebx, -256
        mov [cs:clipped_above - 4], eax
        mov word [column_loop], clipped_column
        jmp .columns
.top_cut:
        add dx, [ebx*2 + skip_rows] ; its columns start from the window's first row
        imul eax, ebx, -256
        mov [cs:top_cut_above - 4], eax
        mov word [column_loop], top_cut_column
        mov word [whole_entry], top_cut_skip_only
        mov word [whole_entry + 2 * KOB_END], top_cut_strip_end
.columns:
        mov [row0], dx
        mov eax, VIDEO_SEGMENT
        mov es, ax
        mov byte [planes_left], 4   ; from here on the upper halves of eax and
                                    ; ebx (0 since the height) stay 0

; Each plane: its first visible column, its mask selected unless the library
; selected it last (only the first plane's can be: from then on the plane
; before is), then every fourth column through the column loop.
%macro PLANE 1 ; 1 where the plane's mask may be selected already
        mov cx, [remaining]
        shr cx, 2                   ; the plane's columns
%if %1 == 0
        jz finish                   ; the first plane has one at least
%endif
        mov [columns], cx
        mov bx, [plane_x]
        and bx, 3
        mov ax, [ebx*2 + plane_selects]
        mov bl, ah                  ; the mask
%if %1
        cmp [_kob_map_mask], bx
        je %%selected
%endif
        mov [_kob_map_mask], bx
        mov dx, SEQUENCER
        out dx, ax
%%selected:
        mov dx, [plane_x]
        shr dx, 2
        add dx, [row0]
        mov bp, [plane_strip]
        jmp [column_loop]           ; bh is 0, bl the mask
%endmacro

        PLANE 1

plane_done:
        dec byte [planes_left]
        jz finish
        inc word [plane_x]
        dec word [remaining]
        mov ax, [plane_step]
        add [plane_strip], ax
        PLANE 0

finish:
        mov word [whole_entry], strip_skip_only
        mov word [whole_entry + 2 * KOB_END], strip_finish
        pop es
        pop di
        pop si
        pop bp
        ret

; ---- the column loops ---------------------------------------------------
; bp: the column's strip table entry; dx: the video byte of its row 0;
; bx (and the upper half of ebx) 0 but for the index in bl.

whole_column:
        mov si, [bp]
        add si, [data]
        mov di, dx
        NEXT_RECORD 0

whole_strip_end:
        add bp, [step]
        inc dx
        loop whole_column
        jmp plane_done

; A record of no pixels: what was loaded as its pixels is the next record.
; Most often it is the rows below a column's last pixels, and the strip ends:
; one for each kind of column, that goes straight to its strip's end.
%macro SKIP_ONLY 2 ; the label, the strip's end
%1:
        cmp al, KOB_END
        je %2
        NEXT_LOADED 0
%endmacro

        SKIP_ONLY whole_skip_only, whole_strip_end
        SKIP_ONLY top_cut_skip_only, top_cut_strip_end
        SKIP_ONLY strip_skip_only, strip_finish

; Columns cut by the rectangle. ecx: the row below the last record passed,
; less the window's first row, times 256; records wholly above the window are
; passed by their counts alone, and the first that reaches it goes on to be
; drawn. Times 256, the record's control and skip word adds its skip and its
; control byte, and a table by the control byte turns that into its pixels.
%macro PASS 1 ; where a record that reaches the window goes
        lodsw
        add ecx, eax
        mov bl, al
        add ecx, [ebx*4 + pass_rows] ; the row below it, times 256; far below for the end
        jg %1
        add si, [ebx*2 + record_bytes]
%endmacro

; Each column's first record starts ecx at minus the window's first row,
; times 256: draw patches that into the displacement at %5.
%macro CUT_COLUMN 5 ; labels: the column, its next record, its strip's end, a record reaching the window, past the first
%3:
        add bp, [step]
        inc dx
        dec word [columns]
        jz plane_done
%1:
        mov si, [bp]
        add si, [data]
        lodsw
        lea ecx, [dword eax + 0]
%5:
        mov bl, al
        add ecx, [ebx*4 + pass_rows]
        jg %4
        add si, [ebx*2 + record_bytes]
%2:
        PASS %4
        PASS %4
        PASS %4
        PASS %4
        jmp %2
%endmacro

; Rows cut off above only: the record that reaches the window is drawn from
; the first row inside it, and the column goes on as a whole one.
        CUT_COLUMN top_cut_column, top_cut_record, top_cut_strip_end, top_cut_reached, top_cut_above
; The end, far below, counts as a whole record: its entry ends the strip.
top_cut_reached:
        shr ecx, 8                  ; the row below the record
        cmp cx, [ebx*2 + record_pixels]
        jb .cut
        mov di, [ecx*2 + skip_rows]
        add di, dx
        lodsw
        jmp [ebx*2 + long_entry]    ; a whole one, from the row below it
.cut:
        mov di, dx                  ; what is left of it starts the window
        jmp [ebx*2 + cut_entry]     ; cx of its pixels inside the window

; The part inside the window of a record cut by its top, cx pixels: a run
; that long, or the literal's last cx pixels.
top_cut_run:
        lodsw
        jmp [ecx*2 + cut_sequence + 2 * KOB_RUN_BASE]

top_cut_literal:
        add si, [ebx*2 + record_pixels]
        sub si, cx
        lodsw
        jmp [ecx*2 + cut_sequence]

; A long one of those: di to the row below it (bl is the whole record's).
long_cut_run:
        add di, [ecx*2 + record_rows]
        jmp [ecx*2 + long_entry + 2 * KOB_RUN_BASE]

long_cut_literal:
        add di, [ecx*2 + record_rows]
        jmp [ecx*2 + long_entry]

; Rows cut off below: every record is clipped to the window.
        CUT_COLUMN clipped_column, clipped_record, clipped_strip_end, clipped_reached, clipped_above

; A record that reaches the window: its rows inside it are drawn through the
; sequences, as a record of that many pixels.
clipped_reached:
        cmp bl, KOB_END
        je clipped_strip_end
        shr ecx, 8
        add cx, [first_row]
        mov di, cx
        sub di, [ebx*2 + record_pixels] ; the record's top row
        cmp di, [end_row]
        jae clipped_strip_end       ; this record and the rest lie below
        mov ax, si
        add ax, [ebx*2 + record_bytes]
        mov [resume], ax
        mov ax, [first_row]
        cmp ax, di
        jae .low
        mov ax, di                  ; the first row to draw
.low:
        test bl, bl
        js .high
        add si, ax
        sub si, di                  ; past the literal's pixels above the window
.high:
        and bl, KOB_RUN_BASE
        mov di, cx
        cmp di, [end_row]
        jbe .count
        mov di, [end_row]           ; the row below the last to draw
.count:
        sub ax, di
        neg ax
        or bl, al                   ; the control byte of a record that long
        add di, di
        mov di, [di + skip_rows]
        add di, dx
        sub cx, [first_row]
        shl ecx, 8
        lodsw
        jmp [ebx*2 + clipped_entry]

clipped_passed:
        mov si, [resume]
        jmp clipped_record


; ---- the store sequences -------------------------------------------------
; Each is entered part way with es:di on the row below the record's last and
; ax loaded from the record's first bytes; %1 ends it. A record of more than
; SHORT_RECORD pixels comes here from long_record.

; A literal of an even count: pairs from the top.
%macro EVEN_LITERALS 1
%assign m KOB_MAX_LITERAL
%rep KOB_MAX_LITERAL / 2
        mov [es:word di - m * FIRST_PITCH], al
        mov [es:word di - (m - 1) * FIRST_PITCH], ah
%if m > 2
        lodsw
%endif
%assign m m - 2
%endrep
        %1 0, 0
%endmacro

; A literal of an odd count: pairs, then the last pixel alone; its lodsw took
; one byte too many.
%macro ODD_LITERALS 1
%assign m KOB_MAX_LITERAL - 1
%rep (KOB_MAX_LITERAL - 1) / 2
        mov [es:word di - m * FIRST_PITCH], al
        mov [es:word di - (m - 1) * FIRST_PITCH], ah
        lodsw
%assign m m - 2
%endrep
        mov [es:word di - FIRST_PITCH], al
        %1 1, 0
%endmacro

; A run: the colour once a row; its lodsw took one byte too many.
%macro RUNS 1
%assign m KOB_MAX_RUN
%rep KOB_MAX_RUN
        mov [es:word di - m * FIRST_PITCH], al
%assign m m - 1
%endrep
        %1 1, 0
%endmacro

; The ends: the next record, its control byte perhaps loaded already, or the
; clipped walk's next record.
%macro WHOLE_END 2 ; one byte loaded too many; the record's rows above di
%if %1
        NEXT_AFTER_ONE %2
%else
        NEXT_RECORD %2
%endif
%endmacro

%macro CLIPPED_END 2
        mov si, [resume]
        jmp clipped_record
%endmacro

whole_even: EVEN_LITERALS WHOLE_END
whole_odd: ODD_LITERALS WHOLE_END
whole_runs: RUNS WHOLE_END
clipped_even: EVEN_LITERALS CLIPPED_END
clipped_odd: ODD_LITERALS CLIPPED_END
clipped_runs: RUNS CLIPPED_END

; A long record of the whole sequences: di to the row below it.
long_record:
        add di, [ebx*2 + record_rows]
        jmp [ebx*2 + long_entry]

; A short record's own sequence, from es:di on its first row, ax loaded
; from its first bytes: a literal of n pixels, or a run of n rows.
%macro SHORT_LITERAL 1
%assign m 0
%rep %1 / 2
        mov [es:word di + m * FIRST_PITCH], al
        mov [es:word di + (m + 1) * FIRST_PITCH], ah
%if m + 2 < %1
        lodsw
%endif
%assign m m + 2
%endrep
%if %1 % 2
        mov [es:word di + m * FIRST_PITCH], al
        NEXT_AFTER_ONE %1
%else
        NEXT_RECORD %1
%endif
%endmacro

%macro SHORT_RUN 1
%assign m 0
%rep %1
        mov [es:word di + m * FIRST_PITCH], al
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

; ---- a new pitch ---------------------------------------------------------

; Rewrites the row tables and every store's displacement (in the code
; segment) for the pitch in ax.
patch_pitch:
        push si
        mov [patched_pitch], ax
        mov dx, ax
        xor ax, ax
        mov bx, skip_rows
        mov cx, MAX_ROWS
.rows:
        mov [bx], ax
        add ax, dx
        add bx, 2
        loop .rows
        xor bx, bx
.records:
        mov si, bx
        add si, si
        mov bl, [si + record_pixels] ; the low byte: 0 for the end
        add bx, bx
        mov ax, [bx + skip_rows]
        mov [si + record_rows], ax
        mov bx, si
        shr bx, 1
        inc bl
        jnz .records
        mov si, sequences
.sequence:
        mov bx, [si]                ; the first store
        mov cx, [si+2]              ; stores in the sequence
        mov ax, [si+4]
        imul ax, dx                 ; the first store's displacement
        call [si+6]
        add si, 8
        cmp si, sequences_end
        jb .sequence
        pop si
        ret

; bx: the first store, cx: stores, ax: its displacement, dx: the pitch
patch_literals:
        mov [cs:bx + DISP_AT], ax
        add ax, dx
        add bx, STORE_SIZE
        dec cx
        jz .done
        mov [cs:bx + DISP_AT], ax
        add ax, dx
        add bx, STORE_SIZE + 1      ; past the lodsw
        loop patch_literals
.done:
        ret

patch_runs:
        mov [cs:bx + DISP_AT], ax
        add ax, dx
        add bx, STORE_SIZE
        loop patch_runs
        ret

DATA_SECTION

; The sequences to rewrite: first store, stores, the first store's row from
; di, how.
sequences:
        dw whole_even, KOB_MAX_LITERAL, -KOB_MAX_LITERAL, patch_literals
        dw whole_odd, KOB_MAX_LITERAL - 1, -(KOB_MAX_LITERAL - 1), patch_literals
        dw whole_runs, KOB_MAX_RUN, -KOB_MAX_RUN, patch_runs
        dw clipped_even, KOB_MAX_LITERAL, -KOB_MAX_LITERAL, patch_literals
        dw clipped_odd, KOB_MAX_LITERAL - 1, -(KOB_MAX_LITERAL - 1), patch_literals
        dw clipped_runs, KOB_MAX_RUN, -KOB_MAX_RUN, patch_runs
%assign n 1
%rep SHORT_RECORD
        dw short_literal_ %+ n, n, 0, patch_literals
        dw short_run_ %+ n, n, 0, patch_runs
%assign n n + 1
%endrep
sequences_end:

patched_pitch: dw FIRST_PITCH

; k x pitch for every k
skip_rows:
%assign k 0
%rep MAX_ROWS
        dw k * FIRST_PITCH
%assign k k + 1
%endrep

; The pixels of a record by its control byte; 0 for 127 and 128. Runs of 1
; and 2 never occur in a strip, but what is left of a clipped run is drawn as
; one.
%macro PIXELS_OF 1
%if %1 <= KOB_MAX_LITERAL
%assign n %1
%elif %1 > KOB_RUN_BASE && %1 < KOB_END
%assign n %1 - KOB_RUN_BASE
%else
%assign n 0
%endif
%endmacro

; The pixels of a record; for the end, fewer rows than it passes (below),
; its low byte 0 for the row tables.
END_ROWS equ 512
record_pixels:
%assign c 0
%rep 256
        PIXELS_OF c
%if c == KOB_END
        dw END_ROWS
%else
        dw n
%endif
%assign c c + 1
%endrep

; What passes a record above the window adds to its control and skip word:
; its rows times 256 less its control byte; for the end, rows past any window.
END_PASSED equ 1024
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
        dw 0
%elif c >= KOB_RUN_BASE
        dw 1
%else
        dw n
%endif
%assign c c + 1
%endrep

; The rows a record covers, by its control byte: pixels x pitch
record_rows:
%assign c 0
%rep 256
        PIXELS_OF c
        dw n * FIRST_PITCH
%assign c c + 1
%endrep

; Where each control byte's record is drawn from: the store for its first
; row within its sequence.
%macro ENTRIES 5 ; even, odd, runs, the record of no pixels, the strip's end
%assign c 0
%rep 256
        PIXELS_OF c
%if c == 0
        dw %4
%elif n == 0
        dw %5
%elif c >= KOB_RUN_BASE
        dw %3 + STORE_SIZE * (KOB_MAX_RUN - n)
%elif n % 2 == 0
        dw %1 + PAIR_SIZE * (KOB_MAX_LITERAL - n) / 2
%else
        dw %2 + PAIR_SIZE * (KOB_MAX_LITERAL - 1 - n) / 2
%endif
%assign c c + 1
%endrep
%endmacro

; Where each control byte's record is drawn from with di on its first row:
; a short record's own sequence, or long_record.
%macro FROM_FIRST_ROW 4 ; the record of no pixels, the strip's end, a long literal, a long run
%assign c 0
%rep 256
        PIXELS_OF c
%if c == 0
        dw %1
%elif n == 0
        dw %2
%elif n > SHORT_RECORD && c >= KOB_RUN_BASE
        dw %4
%elif n > SHORT_RECORD
        dw %3
%elif c >= KOB_RUN_BASE
        dw short_run_ %+ n
%else
        dw short_literal_ %+ n
%endif
%assign c c + 1
%endrep
%endmacro

whole_entry: FROM_FIRST_ROW strip_skip_only, strip_finish, long_record, long_record
; The part of a record cut by the window's top, by its own length.
cut_sequence: FROM_FIRST_ROW strip_finish, strip_finish, long_cut_literal, long_cut_run
; The same from the row below the record, for long_record and for the first
; record of a top cut column, of any length.
long_entry: ENTRIES whole_even, whole_odd, whole_runs, top_cut_skip_only, top_cut_strip_end
clipped_entry: ENTRIES clipped_even, clipped_odd, clipped_runs, clipped_passed, clipped_strip_end

; How the part inside the window of a record cut by its top is drawn.
cut_entry:
%assign c 0
%rep 256
%if c >= KOB_RUN_BASE
        dw top_cut_run
%else
        dw top_cut_literal
%endif
%assign c c + 1
%endrep

zero_offset: dd 0
strip_sprite: dw 0, 1, 0, zero_offset ; the one column kob_draw_strip draws as a sprite
plane_selects: dw MAP_MASK + 100h, MAP_MASK + 200h, MAP_MASK + 400h, MAP_MASK + 800h ; the map mask's index, then the mask
plane_mask_words: dw 1, 2, 4, 8

BSS_SECTION

data: resw 1
planes_left: resb 1
alignb 2
remaining: resw 1          ; columns from the plane's first to the end, + 3
plane_x: resw 1            ; the screen x of the plane's first column
plane_strip: resw 1        ; its strip table entry
plane_step: resw 1         ; from one plane's first entry to the next's
first_row: resw 1
end_row: resw 1
row0: resw 1               ; the video byte of the sprite's row 0, column 0
step: resw 1               ; from a column's strip entry to the next's
column_loop: resw 1        ; whole_column, top_cut_column or clipped_column
columns: resw 1            ; columns left in the plane
resume: resw 1             ; the record after the clipped one
