        .code16
        .text
        .globl _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ds
        movw    %ax, %es
        movw    %ax, %ss
        movw    $0x7c00, %sp
        sti
        cld
        movw    $0x7c00, %si
        movw    $0x0600, %di
        movw    $256, %cx
        rep movsw
        ljmp    $0, $(0x600 + relocated - _start)
relocated:
        movb    %dl, 0x600 + drive - _start
        movw    $(0x600 + dap - _start), %si
        movb    $0x42, %ah
        int     $0x13
        jc      fail
        movb    0x600 + drive - _start, %dl
        ljmp    $0, $0x7c00
fail:
        movw    $0x3f8, %dx
        movb    $'!', %al
        outb    %al, %dx
1:      hlt
        jmp     1b
drive:  .byte 0
        .org    0x1a0
dap:    .byte 16, 0
count:  .word 16
        .word 0x7c00, 0
        .quad 1
