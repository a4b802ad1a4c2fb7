; Zirrafon demo tune: the music player shared by the ZX Spectrum 128 and the
; Amstrad CPC builds of the tune (assembled with pasmo).
;
; The top file (spectrum.asm or cpc.asm) defines CPC (0 or 1) and includes the
; tables that scripts/build-demo generates for that machine's chip clock:
; PeriodTable, EnvTable, NoiseTable and the note names C1 .. B6. Everything
; that depends on the machine is in those tables and in WriteReg at the end of
; this file; the player logic and the tune (tune.asm) are the same bytes for
; both machines.
;
; How it plays. INIT silences the chip and rewinds the song; PLAY runs once
; per 50 Hz interrupt. Every SPEED frames a row passes; a bar is ROWS rows.
; At each bar the order list gives every channel a pattern and a
; transposition. A pattern is a stream of:
;   0x80 + i      choose instrument i (no row passes)
;   note, rows    play a note (1 = C1 .. 72 = B6) or rest (0) for that many rows
;   0xFF          end: the channel holds until the next bar
; Every frame each sounding channel steps the three sequences of its
; instrument (volume, pitch offset in semitones, mixer/noise), optionally
; adds a vibrato, and the result goes to the chip: R0..R12 every frame, R13
; only when an envelope instrument starts a note (a write restarts the
; envelope).
;
; Channel use of the tune: A bass (hardware envelope saw, alone or gated by
; a tone in step with it), B melody (volume decay, vibrato, arpeggio chords),
; C drums (noise bursts and pitch sweeps). The bass keeps to C1 .. G2: on the
; CPC's slower chip clock the envelope periods of higher notes are too short
; to hit the pitch closely.

SPEED   equ 6           ; frames per row: 8.33 rows a second, 125 beats a minute in 16ths
ROWS    equ 16          ; rows per bar
NOTES   equ 72          ; C1 .. B6; the period tables hold one more entry (C7)
PATEND  equ 0xFF

; Sequence bytes: 0x80 jumps back to the start of the sequence, 0x81 holds
; the value before it for ever.
SEQLOOP equ 0x80
SEQHOLD equ 0x81

; Mixer sequence byte: bit 6 set = tone off; bits 0-4 = noise period in
; ZX Spectrum chip units (0 = no noise). The period is converted through
; NoiseTable for the machine's clock.
TONEOFF equ 0x40

; Volume sequence value that hands the channel to the hardware envelope.
ENV     equ 16

; Channel record (one per chip channel, addressed through IX)
C_PAT   equ 0           ; word: position in the pattern
C_WAIT  equ 2           ; rows still to wait before the next pattern event
C_NOTE  equ 3           ; note playing (transposed), 0 = silent
C_TRANS equ 4           ; transposition of the current pattern, semitones
C_INS   equ 5           ; word: instrument record
C_VOLP  equ 7           ; word: position in the volume sequence
C_ARPP  equ 9           ; word: position in the pitch sequence
C_MIXP  equ 11          ; word: position in the mixer sequence
C_FRAMES equ 13         ; frames since the note began, stops at 255
C_DYNAMIC equ 14        ; bytes above are cleared by INIT; the rest is fixed
C_TONEREG equ 14        ; the channel's tone period register (0, 2, 4)
C_VOLREG equ 15         ; its amplitude register (8, 9, 10)
C_BIT   equ 16          ; its tone bit in R7 (the noise bit is 3 places up)
C_SIZE  equ 17

; Instrument record
I_VOL   equ 0           ; word: volume sequence (0..15, or ENV)
I_ARP   equ 2           ; word: pitch sequence (signed semitones)
I_MIX   equ 4           ; word: mixer sequence
I_FLAGS equ 6           ; bit 0: the note sets the envelope period (saw shapes);
                        ; bit 1: the tone period follows at 16 x that period
I_SHAPE equ 7           ; envelope shape written to R13 when a note starts
I_VIB   equ 8           ; vibrato delay in frames, 0 = none

        org 0x8000

; Fixed entry points, so that the containers can name them.
Init:   jp DoInit
Play:   jp DoPlay

DoInit:
        ld hl,Shadow
        ld b,14
        xor a
InitRegs:
        ld (hl),a
        inc hl
        djnz InitRegs
        ld a,0x3F               ; all tones and noises off
        ld (Shadow+7),a
        xor a
        ld (NoiseOut),a
        ld (EnvRestart),a
        ld (RowCount),a         ; 0: the first row starts a bar
        inc a
        ld (SpeedCount),a       ; the first PLAY plays the first row
        ld hl,Order
        ld (OrderPtr),hl
        ld ix,ChanA
        call ClearChannel
        ld ix,ChanB
        call ClearChannel
        ld ix,ChanC
        call ClearChannel
        jp WriteAll

ClearChannel:
        push ix
        pop hl
        ld b,C_DYNAMIC
        xor a
ClearLoop:
        ld (hl),a
        inc hl
        djnz ClearLoop
        ld hl,(InstrTable)      ; instrument 0 until a pattern chooses one
        ld (ix+C_INS),l
        ld (ix+C_INS+1),h
        ret

DoPlay:
        ld hl,SpeedCount
        dec (hl)
        jr nz,PlayFrame
        ld (hl),SPEED
        call NextRow
PlayFrame:
        ld a,0x3F
        ld (Shadow+7),a
        ld ix,ChanA
        call ChannelFrame
        ld ix,ChanB
        call ChannelFrame
        ld ix,ChanC
        call ChannelFrame
        ; and on into WriteAll

; Sends R0..R12 from the shadow copy, and R13 when an envelope note began.
WriteAll:
        ld a,(NoiseOut)
        ld e,a
        ld d,0
        ld hl,NoiseTable
        add hl,de
        ld a,(hl)
        ld (Shadow+6),a
        ld hl,Shadow
        xor a
WriteAllLoop:
        ld e,(hl)
        push af
        push hl
        call WriteReg
        pop hl
        pop af
        inc hl
        inc a
        cp 13
        jr c,WriteAllLoop
        ld a,(EnvRestart)
        or a
        ret z
        xor a
        ld (EnvRestart),a
        ld a,(EnvShape)
        ld e,a
        ld a,13
        jp WriteReg

NextRow:
        ld a,(RowCount)
        or a
        call z,NextBar
        ld hl,RowCount
        dec (hl)
        ld ix,ChanA
        call ChannelRow
        ld ix,ChanB
        call ChannelRow
        ld ix,ChanC
        jp ChannelRow

; Order list entry: for channels A, B, C a pattern address and a
; transposition byte. An entry whose first word is 0 is followed by the
; address of the entry to continue with.
NextBar:
        ld hl,(OrderPtr)
        ld a,(hl)
        inc hl
        or (hl)
        jr nz,BarEntry
        inc hl
        ld a,(hl)
        inc hl
        ld h,(hl)
        ld l,a
        ld (OrderPtr),hl
        jr NextBar
BarEntry:
        dec hl
        ld ix,ChanA
        call BarChannel
        ld ix,ChanB
        call BarChannel
        ld ix,ChanC
        call BarChannel
        ld (OrderPtr),hl
        ld a,ROWS
        ld (RowCount),a
        ret

BarChannel:
        ld a,(hl)
        ld (ix+C_PAT),a
        inc hl
        ld a,(hl)
        ld (ix+C_PAT+1),a
        inc hl
        ld a,(hl)
        ld (ix+C_TRANS),a
        inc hl
        ld (ix+C_WAIT),0
        ret

; One row of one channel: wait, or read the pattern's next event.
ChannelRow:
        ld a,(ix+C_WAIT)
        or a
        jr z,RowRead
        dec (ix+C_WAIT)
        ret
RowRead:
        ld l,(ix+C_PAT)
        ld h,(ix+C_PAT+1)
RowByte:
        ld a,(hl)
        inc hl
        cp PATEND
        jr z,RowEnd
        cp 0x80
        jr c,RowNote
        and 0x7F                ; choose an instrument
        add a,a
        ld e,a
        ld d,0
        push hl
        ld hl,InstrTable
        add hl,de
        ld a,(hl)
        ld (ix+C_INS),a
        inc hl
        ld a,(hl)
        ld (ix+C_INS+1),a
        pop hl
        jr RowByte
RowEnd:
        ld (ix+C_WAIT),255      ; nothing more in this bar
        ret
RowNote:
        or a
        jr z,RowRest
        add a,(ix+C_TRANS)
RowRest:
        ld (ix+C_NOTE),a
        ld a,(hl)               ; length in rows
        inc hl
        dec a
        ld (ix+C_WAIT),a
        ld (ix+C_PAT),l
        ld (ix+C_PAT+1),h
        ld l,(ix+C_INS)         ; the instrument's sequences start again
        ld h,(ix+C_INS+1)
        ld a,(hl)
        ld (ix+C_VOLP),a
        inc hl
        ld a,(hl)
        ld (ix+C_VOLP+1),a
        inc hl
        ld a,(hl)
        ld (ix+C_ARPP),a
        inc hl
        ld a,(hl)
        ld (ix+C_ARPP+1),a
        inc hl
        ld a,(hl)
        ld (ix+C_MIXP),a
        inc hl
        ld a,(hl)
        ld (ix+C_MIXP+1),a
        ld (ix+C_FRAMES),0
        ret

; HL = position in a sequence, DE = its start. Returns A = this frame's value
; and HL = the position for the next frame.
SeqNext:
        ld a,(hl)
        cp SEQLOOP
        jr nz,SeqNoLoop
        ex de,hl
        ld a,(hl)
SeqNoLoop:
        cp SEQHOLD
        jr z,SeqHold
        inc hl
        ret
SeqHold:
        dec hl
        ld a,(hl)
        inc hl
        ret

; One frame of one channel: volume, mixer bits, noise, tone period and, for
; an envelope instrument, the envelope period, into the shadow registers.
ChannelFrame:
        ld l,(ix+C_INS)
        ld h,(ix+C_INS+1)
        push hl
        pop iy                  ; IY = instrument record
        ld a,(ix+C_NOTE)
        or a
        jp z,FrameSilent

        ld e,(iy+I_VOL)
        ld d,(iy+I_VOL+1)
        ld l,(ix+C_VOLP)
        ld h,(ix+C_VOLP+1)
        call SeqNext
        ld (ix+C_VOLP),l
        ld (ix+C_VOLP+1),h
        call SetVolume

        ld e,(iy+I_MIX)
        ld d,(iy+I_MIX+1)
        ld l,(ix+C_MIXP)
        ld h,(ix+C_MIXP+1)
        call SeqNext
        ld (ix+C_MIXP),l
        ld (ix+C_MIXP+1),h
        ld c,a
        bit 6,c
        jr nz,FrameToneOff
        ld a,(ix+C_BIT)
        cpl
        ld b,a
        ld a,(Shadow+7)
        and b
        ld (Shadow+7),a
FrameToneOff:
        ld a,c
        and 0x1F
        jr z,FrameNoNoise
        ld (NoiseOut),a
        ld a,(ix+C_BIT)
        add a,a
        add a,a
        add a,a
        cpl
        ld b,a
        ld a,(Shadow+7)
        and b
        ld (Shadow+7),a
FrameNoNoise:

        ld e,(iy+I_ARP)
        ld d,(iy+I_ARP+1)
        ld l,(ix+C_ARPP)
        ld h,(ix+C_ARPP+1)
        call SeqNext
        ld (ix+C_ARPP),l
        ld (ix+C_ARPP+1),h
        add a,(ix+C_NOTE)       ; keep the note inside the table
        jr z,FrameLow
        cp 0x80
        jr nc,FrameLow
        cp NOTES+1
        jr c,FrameNoteOk
        ld a,NOTES
        jr FrameNoteOk
FrameLow:
        ld a,1
FrameNoteOk:
        ld c,a                  ; C = the note sounding in this frame

        bit 0,(iy+I_FLAGS)
        jr z,FrameNoEnv
        ld a,c
        dec a
        add a,a
        ld e,a
        ld d,0
        ld hl,EnvTable
        add hl,de
        ld e,(hl)
        inc hl
        ld d,(hl)               ; DE = the note's envelope period
        ld (Shadow+11),de
        ld a,(ix+C_FRAMES)
        or a
        jr nz,FrameEnvOn
        ld a,(iy+I_SHAPE)
        ld (EnvShape),a
        ld a,1
        ld (EnvRestart),a
FrameEnvOn:
        bit 1,(iy+I_FLAGS)
        jr z,FrameNoEnv
        ex de,hl                ; the tone in step with the envelope: one
        add hl,hl               ; square cycle (2 x 16 E ticks) per saw
        add hl,hl               ; cycle (32 E ticks)
        add hl,hl
        add hl,hl
        ex de,hl
        jr FrameSetPeriod
FrameNoEnv:

        ld a,c
        dec a
        add a,a
        ld e,a
        ld d,0
        ld hl,PeriodTable
        add hl,de
        ld e,(hl)
        inc hl
        ld d,(hl)               ; DE = the note's tone period
        inc hl
        ld a,(iy+I_VIB)
        or a
        jr z,FrameSetPeriod
        ld b,a
        ld a,(ix+C_FRAMES)
        sub b
        jr c,FrameSetPeriod
        and 7
        ld b,a                  ; B = vibrato phase
        push de
        ld a,(hl)
        inc hl
        ld h,(hl)
        ld l,a                  ; HL = the period a semitone higher
        ex de,hl
        or a
        sbc hl,de
        ex de,hl                ; DE = a semitone in period units
        ld hl,VibratoShape
        ld a,b
        add a,l
        ld l,a
        adc a,h
        sub l
        ld h,a
        ld a,(hl)               ; k = -2 .. 2 eighths of a semitone
        pop hl                  ; HL = the note's period
        or a
        jr z,FrameVibDone
        ld b,a
        push hl
        jp p,FrameVibAbs
        neg
FrameVibAbs:
        ld hl,4                 ; round(|k| x semitone / 8): the same share
FrameVibMul:                    ; of the pitch on either chip clock
        add hl,de
        dec a
        jr nz,FrameVibMul
        srl h
        rr l
        srl h
        rr l
        srl h
        rr l
        ex de,hl
        pop hl
        bit 7,b
        jr nz,FrameVibDown
        add hl,de
        jr FrameVibDone
FrameVibDown:
        or a
        sbc hl,de
FrameVibDone:
        ex de,hl
FrameSetPeriod:
        ld l,(ix+C_TONEREG)
        ld h,0
        ld bc,Shadow
        add hl,bc
        ld (hl),e
        inc hl
        ld (hl),d
        jr FrameCount

FrameSilent:
        xor a
        call SetVolume
FrameCount:
        ld a,(ix+C_FRAMES)
        inc a
        ret z
        ld (ix+C_FRAMES),a
        ret

; A = the channel's amplitude register value
SetVolume:
        ld e,(ix+C_VOLREG)
        ld d,0
        ld hl,Shadow
        add hl,de
        ld (hl),a
        ret

; A = register number, E = value. Changes A, BC.
WriteReg:
    if CPC
        ; Amstrad CPC: the chip hangs on the PPI. Port 0xF4xx latches a byte
        ; on the chip's bus, port 0xF6xx drives its control lines: 0xC0
        ; selects the register in the latch, 0x80 writes the latch into the
        ; selected register, 0x00 ends each function.
        ld bc,0xF4FF
        out (c),a
        ld b,0xF6
        ld a,0xC0
        out (c),a
        xor a
        out (c),a
        ld b,0xF4
        out (c),e
        ld b,0xF6
        ld a,0x80
        out (c),a
        xor a
        out (c),a
        ret
    else
        ; ZX Spectrum 128: 0xFFFD selects the register, 0xBFFD writes it.
        ld bc,0xFFFD
        out (c),a
        ld b,0xBF
        out (c),e
        ret
    endif

VibratoShape:
        db 0, 1, 2, 1, 0, -1, -2, -1

; Player state
SpeedCount:     db 0
RowCount:       db 0
OrderPtr:       dw 0
NoiseOut:       db 0            ; noise period asked for this frame (Spectrum units)
EnvShape:       db 0
EnvRestart:     db 0
Shadow:         ds 14           ; R0..R13 as they go to the chip

ChanA:  ds C_DYNAMIC
        db 0, 8, 1
ChanB:  ds C_DYNAMIC
        db 2, 9, 2
ChanC:  ds C_DYNAMIC
        db 4, 10, 4

        include "tune.asm"
