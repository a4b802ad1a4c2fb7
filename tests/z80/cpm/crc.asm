; CRC-16 (polynomial 1021h, start FFFFh) of "123456789", the byte sum kept in
; the alternate registers, the digit sum added in BCD with DAA in AF', and
; the length found with CPIR; printed in hexadecimal with the DAA trick.
; Ends through BDOS function 0.
        org 100h
BDOS    equ 5

        ld hl, text             ; length: CPIR up to the 0 terminator
        ld bc, 100h
        xor a
        cpir
        ld a, c
        cpl
        ld (len), a

        ld b, a
        ld hl, 0FFFFh           ; CRC
        ld ix, text
        exx
        ld c, 0                 ; C' = byte sum
        exx
        xor a
        ex af, af'              ; A' = BCD digit sum
nextb:  ld d, (ix + 0)
        ld a, d
        exx
        add a, c
        ld c, a
        exx
        ld a, d
        sub '0'
        ld e, a
        ex af, af'
        add a, e
        daa
        ex af, af'
        ld a, d
        xor h
        ld h, a
        push bc
        ld b, 8
cbit:   sla l
        rl h
        jr nc, cnox
        ld a, h
        xor 10h
        ld h, a
        ld a, l
        xor 21h
        ld l, a
cnox:   djnz cbit
        pop bc
        inc ix
        djnz nextb

        ld de, scrc
        ld c, 9
        call BDOS
        ld a, h
        call phex
        ld a, l
        call phex
        ld de, ssum
        ld c, 9
        call BDOS
        exx
        ld a, c
        exx
        call phex
        ld de, sbcd
        ld c, 9
        call BDOS
        ex af, af'
        call phex
        ld de, slen
        ld c, 9
        call BDOS
        ld a, (len)
        call phex
        ld e, 10
        ld c, 2
        call BDOS
        ld c, 0
        call BDOS

; Prints A as two hexadecimal digits.
phex:   push af
        rra
        rra
        rra
        rra
        call pnib
        pop af
pnib:   and 0Fh
        add a, 90h
        daa
        adc a, 40h
        daa
        ld e, a
        ld c, 2
        jp BDOS

text:   db '123456789', 0
scrc:   db 'CRC $'
ssum:   db ' SUM $'
sbcd:   db ' BCD $'
slen:   db ' LEN $'
len:    db 0
