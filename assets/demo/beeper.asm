; Zirrafon demo: a short piece for the ZX Spectrum beeper (assembled with
; pasmo; built by scripts/build-demo, which generates tables-beeper.inc).
;
; The beeper is bit 4 of the ULA's port 0xFE. INIT never returns: it plays
; the piece for ever with interrupts disabled and times every edge by
; counting T-states, as beeper music does. The piece never touches the sound
; chip. One voice: melody, arpeggiated chords and two drums (a falling click
; and a burst of noise). C major, 120 beats a minute, 8 bars (about 16 s).
;
; Time runs in ticks of 109,200 T-states (1/32 s); a 16th note is 4 ticks.
; Event stream:
;   0, ticks              rest
;   note, ticks           tone, note C4 (37) .. C7 (73)
;   CHORD+t, root, ticks  arpeggio of chord type t on the root: its three
;                         notes take turns, one tick each
;   KICK, SNARE           a drum, heard before the event that follows
;   0xFF                  back to the start
;
; The timing counts of the tone loop (PlayTone) are those of this machine's
; Z80, OUT (n),A taking 12 T-states; tables-beeper.inc is computed from them.

KICK    equ 0x80
SNARE   equ 0x81
CHORD   equ 0xC0
MAJ     equ CHORD+0
MIN     equ CHORD+1
T16     equ 4           ; ticks per 16th note
REST_COUNT equ 4200     ; a tick of silence: 109200 / 26 T-states per RestWait pass

        org 0x8000

BeeperInit:
        di
        ld e,0                  ; E = the beeper's output byte (bit 4)
BeeperStart:
        ld ix,BeeperSong
BeeperEvent:
        ld a,(ix+0)
        inc ix
        cp 0xFF
        jr z,BeeperStart
        cp KICK
        jr z,BeeperKick
        cp SNARE
        jr z,BeeperSnare
        cp CHORD
        jr nc,BeeperChord
        ld c,(ix+0)             ; ticks
        inc ix
        or a
        jr z,BeeperRest
        call ToneFor
        jr BeeperEvent

BeeperRest:
        ld hl,REST_COUNT
RestWait:
        dec hl
        ld a,h
        or l
        jr nz,RestWait
        dec c
        jr nz,BeeperRest
        jr BeeperEvent

; A falling click: 8 half periods growing from about 0.3 ms to 0.95 ms.
BeeperKick:
        ld c,80
KickHalf:
        ld a,e
        xor 0x10
        ld e,a
        out (0xFE),a
        ld b,c
KickWait1:
        djnz KickWait1
        ld b,c
KickWait2:
        djnz KickWait2
        ld a,c
        add a,25
        ld c,a
        jr nc,KickHalf
        jr BeeperEvent

; About 6.5 ms of noise from a 16-bit xorshift generator, seeded the same
; way every time so that every snare sounds alike.
BeeperSnare:
        ld hl,0x5A3C
        ld b,0
SnareStep:
        ld a,h
        rra
        ld a,l
        rra
        xor h
        ld h,a
        ld a,l
        rra
        ld a,h
        rra
        xor l
        ld l,a
        xor h
        ld h,a
        and 0x10
        out (0xFE),a
        djnz SnareStep
        xor a
        ld e,a
        out (0xFE),a
        jr BeeperEvent

BeeperChord:
        sub CHORD
        ld l,a
        add a,a
        add a,l
        add a,low ChordTable
        ld l,a
        adc a,high ChordTable
        sub l
        ld h,a
        ld (ChordPtr),hl
        ld a,(ix+0)
        ld (ChordRoot),a
        ld a,(ix+1)
        ld (ChordLeft),a
        inc ix
        inc ix
        xor a
        ld (ChordStep),a
ChordTick:
        ld hl,(ChordPtr)
        ld a,(ChordStep)
        ld c,a
        ld b,0
        add hl,bc
        ld a,(ChordRoot)
        add a,(hl)
        ld c,1
        call ToneFor
        ld a,(ChordStep)
        inc a
        cp 3
        jr c,ChordNext
        xor a
ChordNext:
        ld (ChordStep),a
        ld hl,ChordLeft
        dec (hl)
        jr nz,ChordTick
        jp BeeperEvent

; Plays note A for C ticks. Keeps E.
ToneFor:
        sub BEEP_FIRST
        add a,a
        add a,a
        add a,low BeepNotes
        ld l,a
        adc a,high BeepNotes
        sub l
        ld h,a                  ; HL = the note's entry: two delays, half periods per tick
        ld a,(hl)
        ld (ToneFine),a
        inc hl
        ld a,(hl)
        ld (ToneCoarse),a
        inc hl
        push de
        ld e,(hl)
        inc hl
        ld d,(hl)
        ld hl,0
        ld b,c
ToneTicks:
        add hl,de
        djnz ToneTicks
        pop de
        ld a,(ToneFine)
        ld c,a
        ld a,(ToneCoarse)
        ld d,a
        ; on into PlayTone

; HL half periods of a square wave, each 49 + 13 * (C + D) T-states:
; ld a,e 4, xor n 7, ld e,a 4, out (n),a 12, ld b,c 4, djnz 13 * C - 5,
; ld b,d 4, djnz 13 * D - 5, dec hl 6, ld a,h 4, or l 4, jp nz 10.
PlayTone:
        ld a,e
        xor 0x10
        ld e,a
        out (0xFE),a
        ld b,c
ToneWait1:
        djnz ToneWait1
        ld b,d
ToneWait2:
        djnz ToneWait2
        dec hl
        ld a,h
        or l
        jp nz,PlayTone
        ret

ChordTable:
        db 0, 4, 7              ; major
        db 0, 3, 7              ; minor

ToneFine:   db 0
ToneCoarse: db 0
ChordPtr:   dw 0
ChordRoot:  db 0
ChordLeft:  db 0
ChordStep:  db 0

; --- the piece: lengths in 16ths ----------------------------------------------------

BeeperSong:
        ; C
        db KICK, E5,3*T16, D5,1*T16, SNARE, C5,2*T16, G4,2*T16
        db KICK, C5,2*T16, E5,2*T16, SNARE, G5,4*T16
        ; Am
        db KICK, A5,3*T16, G5,1*T16, SNARE, E5,2*T16, C5,2*T16
        db KICK, E5,4*T16, SNARE, MIN,A4,4*T16
        ; F
        db KICK, F5,3*T16, E5,1*T16, SNARE, D5,2*T16, C5,2*T16
        db KICK, A4,2*T16, C5,2*T16, SNARE, F5,4*T16
        ; G
        db KICK, G5,6*T16, F5,2*T16
        db KICK, E5,2*T16, D5,2*T16, SNARE, MAJ,G4,4*T16
        ; C
        db KICK, E5,3*T16, D5,1*T16, SNARE, C5,2*T16, G4,2*T16
        db KICK, C5,2*T16, E5,2*T16, SNARE, G5,4*T16
        ; Am
        db KICK, A5,2*T16, C6,2*T16, SNARE, B5,2*T16, A5,2*T16
        db KICK, G5,2*T16, E5,2*T16, SNARE, C5,4*T16
        ; Dm, G
        db KICK, D5,2*T16, F5,2*T16, SNARE, A5,2*T16, F5,2*T16
        db KICK, G5,2*T16, B4,2*T16, SNARE, D5,2*T16, F5,2*T16
        ; C
        db KICK, MAJ,C5,8*T16
        db KICK, C5,2*T16, 0,2*T16, SNARE, C4,2*T16, 0,2*T16
BeeperSongEnd:
        db 0xFF

        include "tables-beeper.inc"
