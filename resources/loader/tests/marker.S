/* Boot code of the tiny test image (El Torito, no emulation, loaded at
   0000:7C00). It writes its marker text to COM1, then " dl=XX" with the
   BIOS drive number it was started from, and stops the machine with a
   triple fault; the emulator runs with -no-reboot, so it exits. The marker
   text follows the code, ended by a zero byte. */
        .code16
        .text
        .globl _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ds
        movw    %ax, %ss
        movw    $0x7c00, %sp
        ljmp    $0, $(0x7c00 + go - _start)
go:
        movb    %dl, %bh
        movw    $(0x7c00 + text - _start), %si
        call    puts
        movw    $(0x7c00 + drive - _start), %si
        call    puts
        movb    %bh, %al
        shrb    $4, %al
        call    puthex
        movb    %bh, %al
        call    puthex
        movw    $(0x7c00 + eol - _start), %si
        call    puts
        /* wait until the transmitter is empty before stopping */
        movw    $0x3fd, %dx
1:      inb     %dx, %al
        testb   $0x40, %al
        jz      1b
        lidt    (0x7c00 + null_idt - _start)
        int     $3

puthex:                                 /* low nibble of AL as a hex digit */
        andb    $0x0f, %al
        addb    $'0', %al
        cmpb    $'9', %al
        jbe     putc
        addb    $('A' - '9' - 1), %al
putc:                                   /* AL to COM1 */
        movb    %al, %bl
        movw    $0x3fd, %dx
1:      inb     %dx, %al
        testb   $0x20, %al
        jz      1b
        movw    $0x3f8, %dx
        movb    %bl, %al
        outb    %al, %dx
        ret
puts:                                   /* zero-ended text at DS:SI */
        lodsb
        testb   %al, %al
        jz      1f
        call    putc
        jmp     puts
1:      ret

drive:  .asciz  " dl="
eol:    .asciz  "\r\n"
        .balign 8
null_idt:
        .word   0
        .long   0
text:
