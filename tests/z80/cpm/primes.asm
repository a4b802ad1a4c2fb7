; Sieve of Eratosthenes below 200: prints the primes in decimal, then how
; many there are. Exercises LDIR, IX arithmetic, DJNZ, 16-bit SBC/ADD,
; PUSH/POP, CALL/RET, BIT and conditional jumps.
        org 100h
BDOS    equ 5
N       equ 200

        ld hl, sieve            ; every number a candidate
        ld (hl), 1
        ld de, sieve + 1
        ld bc, N - 1
        ldir
        xor a
        ld (sieve), a           ; 0 and 1 are not prime
        ld (sieve + 1), a
        ld de, 2                ; DE = p
outer:  ld a, e
        cp 15                   ; 15 * 15 > N: larger p mark nothing new
        jr nc, sieved
        ld ix, sieve
        add ix, de
        ld a, (ix + 0)
        or a
        jr z, nextp
        ld b, e                 ; HL = p * p
        ld hl, 0
square: add hl, de
        djnz square
mark:   push hl                 ; while HL < N: sieve[HL] = 0, HL += p
        ld bc, N
        or a
        sbc hl, bc
        pop hl
        jr nc, nextp
        push hl
        ld bc, sieve
        add hl, bc
        ld (hl), 0
        pop hl
        add hl, de
        jr mark
nextp:  inc e
        jr outer

sieved: xor a
        ld (count), a
        ld h, a
        ld l, a
print:  push hl
        ld bc, sieve
        add hl, bc
        ld a, (hl)
        pop hl
        or a
        jr z, skip
        push hl
        call pdec
        ld e, ' '
        ld c, 2
        call BDOS
        ld a, (count)
        inc a
        ld (count), a
        pop hl
skip:   inc hl
        ld a, l
        cp N
        jr nz, print
        ld e, 10
        ld c, 2
        call BDOS
        ld a, (count)
        ld l, a
        ld h, 0
        call pdec
        ld de, primes
        ld c, 9
        call BDOS
        ret                     ; to 0, pushed at the start

; Prints HL in decimal without leading zeros.
pdec:   ld b, 0                 ; bit 0 set once a digit has been printed
        ld de, 10000
        call digit
        ld de, 1000
        call digit
        ld de, 100
        call digit
        ld de, 10
        call digit
        ld a, l
        add a, '0'
        ld e, a
        ld c, 2
        jp BDOS

digit:  ld a, '0' - 1
dloop:  inc a
        or a
        sbc hl, de
        jr nc, dloop
        add hl, de
        cp '0'
        jr nz, dout
        bit 0, b
        ret z
dout:   ld b, 1
        ld e, a
        ld c, 2
        jp BDOS

primes: db ' primes', 10, '$'
count:  db 0
sieve:  ds N
