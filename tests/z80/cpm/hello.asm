; Prints a greeting through BDOS 9 (string) and BDOS 2 (character), then
; ends by jumping to the warm-boot address 0.
        org 100h
BDOS    equ 5

        ld de, greeting
        ld c, 9
        call BDOS
        ld hl, word
next:   ld a, (hl)
        or a
        jp z, 0
        ld e, a
        ld c, 2
        push hl
        call BDOS
        pop hl
        inc hl
        jr next

greeting: db 'Hello, world!', 10, '$'
word:   db 'OK', 10, 0
