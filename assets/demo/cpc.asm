; Zirrafon demo tune, Amstrad CPC build: the chip behind the PPI (ports
; 0xF4xx and 0xF6xx), clocked at 1,000,000 Hz, so its periods come from
; tables computed for that clock.
; Built by scripts/build-demo, which generates tables-cpc.inc.

CPC     equ 1

        include "player.asm"
        include "tables-cpc.inc"
