; Zirrafon demo tune: instruments, patterns and order list (included by
; player.asm). A minor, 125 beats a minute, 26 bars (about 50 s): two bars of
; intro, then A (8 bars), B (8 bars, half-time), A' (8 bars), and on from A.
; Channel A bass, B melody, C drums.

; --- instruments -------------------------------------------------------------

InstrTable:
        dw InsBass, InsBassBuzz, InsLead, InsMinor, InsMajor, InsKick, InsSnare, InsHat

; Pattern bytes that choose them
BASS    equ 0x80        ; saw bass on the envelope, short notes
BUZZ    equ 0x81        ; envelope saw gated by a tone in step with it, long notes
LEAD    equ 0x82        ; melody: attack, decay to a sustain, vibrato
MINOR   equ 0x83        ; arpeggio of the minor chord on the note
MAJOR   equ 0x84        ; arpeggio of the major chord on the note
KICK    equ 0x85        ; tone falling two octaves in 8 frames
SNARE   equ 0x86        ; tone, then noise, fading
HAT     equ 0x87        ; short high noise

;                volume       pitch      mixer      flags shape vibrato
InsBass:     dw VolBass,     ArpNone,   MixQuiet
             db 1, 8, 0
InsBassBuzz: dw VolBassLong, ArpNone,   MixTone
             db 3, 12, 0
InsLead:     dw VolLead,     ArpNone,   MixTone
             db 0, 0, 12
InsMinor:    dw VolChord,    ArpMinor,  MixTone
             db 0, 0, 0
InsMajor:    dw VolChord,    ArpMajor,  MixTone
             db 0, 0, 0
InsKick:     dw VolKick,     ArpKick,   MixKick
             db 0, 0, 0
InsSnare:    dw VolSnare,    ArpSnare,  MixSnare
             db 0, 0, 0
InsHat:      dw VolHat,      ArpNone,   MixHat
             db 0, 0, 0

VolBass:     db ENV, ENV, ENV, ENV, ENV, ENV, ENV, ENV, 0, SEQHOLD
VolBassLong: ds 30, ENV
             db 0, SEQHOLD
VolLead:     db 14, 15, 15, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, SEQHOLD
VolChord:    db 14, 13, 13, 12, 12, 12, 11, 11, 11, 10, SEQHOLD
VolKick:     db 15, 14, 12, 10, 8, 6, 3, 0, SEQHOLD
VolSnare:    db 15, 13, 12, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, SEQHOLD
VolHat:      db 9, 6, 3, 0, SEQHOLD

ArpNone:     db 0, SEQHOLD
ArpMinor:    db 0, 3, 7, SEQLOOP
ArpMajor:    db 0, 4, 7, SEQLOOP
ArpKick:     db 0, -3, -6, -9, -12, -15, -18, -21, -24, SEQHOLD
ArpSnare:    db 0, -5, -9, SEQHOLD

MixTone:     db 0, SEQHOLD
MixQuiet:    db TONEOFF, SEQHOLD
MixKick:     db 1, 0, SEQHOLD
MixSnare:    db 7, 7, TONEOFF+7, SEQHOLD
MixHat:      db TONEOFF+1, SEQHOLD

; --- patterns: one bar each ----------------------------------------------------

; Bass, written on A (root and fifth); the order list transposes it to each
; chord's root.
BassRiff:  db BASS, A1,2, A1,1, A1,1, E2,2, A1,2, A1,2, E2,2, A1,2, E2,2, PATEND
BassBuzz:  db BUZZ, A1,6, A1,2, E2,4, A1,2, E2,2, PATEND

MelRest:   db LEAD, 0,16, PATEND
MelPickup: db LEAD, 0,8, A4,2, B4,2, C5,2, D5,2, PATEND

MelA1:     db LEAD, E5,4, A4,2, C5,2, E5,2, D5,2, C5,2, B4,2, PATEND     ; Am
MelA2:     db LEAD, C5,4, A4,4, F4,2, A4,2, C5,2, D5,2, PATEND           ; F
MelA3:     db LEAD, E5,4, G5,2, E5,2, D5,2, C5,2, D5,2, E5,2, PATEND     ; C
MelA4:     db LEAD, D5,6, B4,2, G4,6, B4,2, PATEND                       ; G
MelA5:     db LEAD, E5,4, A4,2, C5,2, E5,2, A5,4, G5,2, PATEND           ; Am
MelA6:     db LEAD, F5,4, E5,2, D5,2, C5,4, A4,4, PATEND                 ; F
MelA7:     db LEAD, B4,4, D5,2, G5,2, F5,2, E5,2, D5,2, B4,2, PATEND     ; G
MelA8:     db LEAD, Gs4,4, B4,2, E5,2, Gs5,8, PATEND                     ; E

MelB1:     db LEAD, A5,6, G5,2, F5,4, C5,4, PATEND                       ; F
MelB2:     db LEAD, D5,6, B4,2, D5,4, G5,4, PATEND                       ; G
MelB3:     db LEAD, G5,6, Fs5,2, E5,4, B4,4, PATEND                      ; Em
MelB4:     db LEAD, C5,4, E5,4, MINOR, A5,8, PATEND                      ; Am
MelB5:     db LEAD, F5,6, E5,2, D5,4, A4,4, PATEND                       ; Dm
MelB6:     db LEAD, B4,6, C5,2, D5,4, G5,4, PATEND                       ; G
MelB7:     db LEAD, E5,4, G5,4, MAJOR, C6,8, PATEND                      ; C
MelB8:     db LEAD, B5,4, Gs5,4, E5,4, D5,2, B4,2, PATEND                ; E

MelC7:     db LEAD, D5,2, E5,2, F5,2, G5,2, F5,2, E5,2, D5,2, B4,2, PATEND ; G
MelC8:     db MAJOR, E5,12, 0,4, PATEND                                  ; E

DrumIntro: db KICK,G3,2, HAT,C5,2, HAT,C5,2, HAT,C5,2, KICK,G3,2, HAT,C5,2, HAT,C5,2, HAT,C5,2, PATEND
DrumBasic: db KICK,G3,2, HAT,C5,2, SNARE,D4,2, HAT,C5,2, KICK,G3,2, KICK,G3,2, SNARE,D4,2, HAT,C5,2, PATEND
DrumFill:  db KICK,G3,2, HAT,C5,2, SNARE,D4,2, HAT,C5,2, KICK,G3,2, SNARE,D4,1, SNARE,D4,1, SNARE,C4,1, SNARE,A3,1, SNARE,D4,2, PATEND
DrumHalf:  db KICK,G3,4, HAT,C5,2, HAT,C5,2, SNARE,D4,4, HAT,C5,2, KICK,G3,2, PATEND

; --- order list ------------------------------------------------------------------

; One bar: the bass pattern with its transposition, the melody, the drums.
BAR     macro bpat, btr, mpat, dpat
        dw bpat
        db btr
        dw mpat
        db 0
        dw dpat
        db 0
        endm

; Bass transpositions from A: F -4, G -2, C 3, D -7, E -5.
Order:
        BAR BassRiff,  0, MelRest,   DrumIntro
        BAR BassRiff,  0, MelPickup, DrumBasic
OrderLoop:
        BAR BassRiff,  0, MelA1, DrumBasic
        BAR BassRiff, -4, MelA2, DrumBasic
        BAR BassRiff,  3, MelA3, DrumBasic
        BAR BassRiff, -2, MelA4, DrumBasic
        BAR BassRiff,  0, MelA5, DrumBasic
        BAR BassRiff, -4, MelA6, DrumBasic
        BAR BassRiff, -2, MelA7, DrumBasic
        BAR BassRiff, -5, MelA8, DrumFill

        BAR BassBuzz, -4, MelB1, DrumHalf
        BAR BassBuzz, -2, MelB2, DrumHalf
        BAR BassBuzz, -5, MelB3, DrumHalf
        BAR BassBuzz,  0, MelB4, DrumHalf
        BAR BassBuzz, -7, MelB5, DrumHalf
        BAR BassBuzz, -2, MelB6, DrumHalf
        BAR BassBuzz,  3, MelB7, DrumHalf
        BAR BassRiff, -5, MelB8, DrumFill

        BAR BassRiff,  0, MelA1, DrumBasic
        BAR BassRiff, -4, MelA2, DrumBasic
        BAR BassRiff,  3, MelA3, DrumBasic
        BAR BassRiff, -2, MelA4, DrumBasic
        BAR BassRiff,  0, MelA5, DrumBasic
        BAR BassRiff, -4, MelA6, DrumBasic
        BAR BassRiff, -2, MelC7, DrumBasic
        BAR BassRiff, -5, MelC8, DrumFill
OrderEnd:
        dw 0, OrderLoop

; Lengths for the song's header, in 50 Hz frames: the whole first pass, and
; the part that repeats.
SongFrames equ (OrderEnd - Order) / 9 * ROWS * SPEED
LoopFrames equ (OrderEnd - OrderLoop) / 9 * ROWS * SPEED
