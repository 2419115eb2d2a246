# The master boot program that /mbr /install writes into bytes 0-439 of a disk.
#
# The BIOS loads it at 0000:7C00 with the boot drive in DL. It moves itself to
# 0000:0600 to free 7C00 for the partition's boot sector, finds the one active
# entry of the partition table, loads that partition's first sector (INT 13h
# extensions when the BIOS has them, CHS otherwise), checks its 0x55AA mark and
# jumps to it with DL unchanged and DS:SI pointing at the entry, as boot sectors
# expect. Failures are reported on the screen and the machine stops.
#
# Linked at 0x0600; the whole program, data included, must stay within 440 bytes so
# that the disk signature and the partition table after it are never touched.

        .code16
        .text
        .globl  _start

        .set    LOAD_ADDR, 0x7C00
        .set    RELOC_ADDR, 0x0600
        .set    TABLE, RELOC_ADDR + 0x1BE
        .set    ENTRY_SIZE, 16
        .set    BOOT_MARK, LOAD_ADDR + 510
        .set    READ_TRIES, 3

_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ss
        movw    $LOAD_ADDR, %sp
        movw    %ax, %ds
        movw    %ax, %es
        sti
        cld
        movw    $LOAD_ADDR, %si
        movw    $RELOC_ADDR, %di
        movw    $256, %cx
        rep movsw
        ljmp    $0, $relocated

relocated:
        movb    %dl, boot_drive

        # Exactly one entry may be flagged 0x80; any flag other than 0x00 or 0x80
        # means the table is damaged, and guessing would boot the wrong system.
        movw    $TABLE, %si
        xorw    %bp, %bp
        movw    $4, %cx
scan_entry:
        movb    (%si), %al
        testb   %al, %al
        jz      next_entry
        cmpb    $0x80, %al
        jne     invalid_table
        testw   %bp, %bp
        jnz     invalid_table
        movw    %si, %bp
next_entry:
        addw    $ENTRY_SIZE, %si
        loop    scan_entry

        movw    $msg_no_active, %si
        testw   %bp, %bp
        jz      fail

        # An active entry without a type or starting at sector 0 would load this
        # very sector again and loop for ever.
        cmpb    $0, 4(%bp)
        je      invalid_table
        movl    8(%bp), %eax
        testl   %eax, %eax
        jz      invalid_table
        movl    %eax, dap_lba

        movb    $READ_TRIES, tries_left
read_sector:
        movb    $0x41, %ah
        movw    $0x55AA, %bx
        movb    boot_drive, %dl
        int     $0x13
        jc      read_chs
        cmpw    $0xAA55, %bx
        jne     read_chs
        testb   $1, %cl
        jz      read_chs
        movw    $dap, %si
        movb    $0x42, %ah
        movb    boot_drive, %dl
        int     $0x13
        jmp     read_done
read_chs:
        # Entry bytes 1-3: head, sector with the cylinder's top bits, cylinder.
        movw    $0x0201, %ax
        movw    $LOAD_ADDR, %bx
        movw    2(%bp), %cx
        movb    1(%bp), %dh
        movb    boot_drive, %dl
        int     $0x13
read_done:
        jnc     loaded
        decb    tries_left
        jz      read_failed
        xorb    %ah, %ah
        movb    boot_drive, %dl
        int     $0x13
        jmp     read_sector

loaded:
        cmpw    $0xAA55, BOOT_MARK
        jne     no_boot_mark
        movw    %bp, %si
        movb    boot_drive, %dl
        ljmp    $0, $LOAD_ADDR

invalid_table:
        movw    $msg_invalid_table, %si
        jmp     fail
read_failed:
        movw    $msg_read_error, %si
        jmp     fail
no_boot_mark:
        movw    $msg_no_boot_mark, %si

# Prints the zero-terminated text at DS:SI on the screen, then stops.
fail:
        lodsb
        testb   %al, %al
        jz      stop
        movb    $0x0E, %ah
        movw    $0x0007, %bx
        int     $0x10
        jmp     fail
stop:
        sti
        hlt
        jmp     stop

msg_invalid_table:
        .asciz  "\r\nInvalid partition table\r\n"
msg_no_active:
        .asciz  "\r\nNo active partition\r\n"
msg_read_error:
        .asciz  "\r\nError reading the active partition\r\n"
msg_no_boot_mark:
        .asciz  "\r\nActive partition has no boot sector\r\n"

boot_drive:
        .byte   0
tries_left:
        .byte   0
# INT 13h extensions disk address packet: one sector to 0000:7C00.
dap:
        .byte   0x10, 0
        .word   1
        .word   LOAD_ADDR, 0
dap_lba:
        .long   0, 0

        # Fails the build if the program grows into the disk signature.
        .org    440
