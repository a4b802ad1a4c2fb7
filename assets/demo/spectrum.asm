; Zirrafon demo tune, ZX Spectrum 128 build: the chip on ports 0xFFFD
; (register select) and 0xBFFD (data), clocked at 1,773,400 Hz.
; Built by scripts/build-demo, which generates tables-zx.inc.

CPC     equ 0

        include "player.asm"
        include "tables-zx.inc"
