# A partition boot sector for the boot tests: it reports on COM1 what the master
# boot program handed over (the drive in DL, the flag of the entry DS:SI points at)
# and stops. Linked at 0x7C00.
        .code16
        .text
        .globl  _start
_start:
        movb    (%si), %bh
        movb    %dl, %bl
        cli
        xorw    %ax, %ax
        movw    %ax, %ss
        movw    $0x7C00, %sp
        movw    %ax, %ds
        sti
        movw    $text_loaded, %si
        call    print
        movb    %bl, %al
        call    print_hex
        movw    $text_entry, %si
        call    print
        movb    %bh, %al
        call    print_hex
        movw    $text_end, %si
        call    print
stop:
        hlt
        jmp     stop

print:
        lodsb
        testb   %al, %al
        jz      1f
        call    put
        jmp     print
1:      ret

print_hex:
        pushw   %ax
        shrb    $4, %al
        call    put_digit
        popw    %ax
        andb    $0x0F, %al
put_digit:
        addb    $'0', %al
        cmpb    $'9', %al
        jbe     put
        addb    $7, %al
put:
        pushw   %ax
        pushw   %dx
        movb    $0x01, %ah
        xorw    %dx, %dx
        int     $0x14
        popw    %dx
        popw    %ax
        ret

text_loaded:
        .asciz  "VREL TEST BOOT SECTOR: DL="
text_entry:
        .asciz  " ENTRY="
text_end:
        .asciz  "\r\n"

        .org    510
        .byte   0x55, 0xAA
