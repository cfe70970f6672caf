        .code16
        .text
        .globl _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ds
        ljmp    $0, $(0x7c00 + go - _start)
go:
        movw    $(0x7c00 + text - _start), %si
next:
        lodsb
        testb   %al, %al
        jz      done
        movb    %al, %bl
        movw    $0x3fd, %dx
1:      inb     %dx, %al
        testb   $0x20, %al
        jz      1b
        movw    $0x3f8, %dx
        movb    %bl, %al
        outb    %al, %dx
        jmp     next
done:
        /* wait until the transmitter is empty, then stop the machine with a
           triple fault (the emulator runs with -no-reboot, so it exits) */
        movw    $0x3fd, %dx
2:      inb     %dx, %al
        testb   $0x40, %al
        jz      2b
        lidt    (0x7c00 + null_idt - _start)
        int     $3
        .balign 8
null_idt:
        .word   0
        .long   0
text:
