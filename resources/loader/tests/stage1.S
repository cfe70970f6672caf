/* First sector of the test disk. It does what the Windows boot manager does
   for a boot-sector entry: loads the stub file to 0000:7C00 and jumps to it
   with DL = the boot drive. The stub lies in the gap before the first
   partition; the test writes its place and length into the disk address
   packet at 0x1A0 (bootdisk.py). */
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
        /* move out of the way of the stub */
        movw    $0x7c00, %si
        movw    $0x0600, %di
        movw    $256, %cx
        rep movsw
        ljmp    $0, $(0x600 + relocated - _start)
relocated:
        movb    %dl, 0x600 + drive - _start
        movw    $(0x600 + dap - _start), %si
        movb    $0x42, %ah              /* extended read */
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
dap:    .byte   16, 0                   /* packet size */
        .word   0                       /* sectors: set by the test */
        .word   0x7c00, 0               /* buffer 0000:7C00 */
        .quad   0                       /* first sector: set by the test */
