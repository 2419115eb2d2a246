# A stand-in for an old BIOS, for the boot tests: placed in sector 0, it hides the
# INT 13h extensions (functions 41h and 42h fail) and then starts the master boot
# program kept in sector 1, which must fall back to CHS reads. Linked at 0x1000,
# out of the way of 0x0600 and 0x7C00.
        .code16
        .text
        .globl  _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ss
        movw    $0x7C00, %sp
        movw    %ax, %ds
        movw    %ax, %es
        cld
        movw    $0x7C00, %si
        movw    $0x1000, %di
        movw    $256, %cx
        rep movsw
        ljmp    $0, $moved
moved:
        movw    0x13 * 4, %ax
        movw    %ax, old_int13
        movw    0x13 * 4 + 2, %ax
        movw    %ax, old_int13 + 2
        movw    $hook, 0x13 * 4
        movw    $0, 0x13 * 4 + 2
        sti
        # Sector 1 (cylinder 0, head 0, sector 2) to 0000:7C00, drive in DL kept.
        movw    $0x0201, %ax
        movw    $0x7C00, %bx
        movw    $0x0002, %cx
        xorb    %dh, %dh
        int     $0x13
        jc      stop
        ljmp    $0, $0x7C00
stop:
        hlt
        jmp     stop

hook:
        cmpb    $0x41, %ah
        je      refuse
        cmpb    $0x42, %ah
        je      refuse
        ljmp    *%cs:old_int13
refuse:
        pushw   %bp
        movw    %sp, %bp
        orw     $1, 6(%bp)       # carry set in the caller's flags
        popw    %bp
        movb    $1, %ah
        iret

old_int13:
        .word   0, 0
        .org    440
