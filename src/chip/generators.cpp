// The chip's tone, noise and envelope generators, advanced one chip tick
// (8 cycles of the chip clock) at a time.
//
// Where this differs from the silicon, on purpose:
// - The envelope always runs in 32 steps, the YM2149F's resolution; the
//   AY-3-8910's 16 levels come from the volume tables, which give two
//   neighbouring steps the same level.
// - Tone and envelope periods of 0 behave as 1; the noise counter counts in
//   chip ticks against 2 x R6 and shifts on even counts only, so noise periods
//   0 and 1 both shift every 2 ticks.
// - The noise register is a 17-stage shift register with feedback
//   NOT (stage 17 XOR stage 14), started at 0xFFFF for every song.
#include "chip/chip.h"
#include "chip/generators_inline.h"

void StepGenerators(ChipState& c) { chip_detail::StepGeneratorsInline(c); }

// Shapes 0-3 and 9: fall from 31 to 0, then hold 0.
void EnvelopeDecaySilent(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        --g.EnvelopePosition;
        if (g.EnvelopePosition == 0) g.EnvelopeFlag = 0;
    }
}

// Shapes 4-7 and 15: rise from 0 to 31, then drop to 0 and hold.
void EnvelopeAttackSilent(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        ++g.EnvelopePosition;
        if (g.EnvelopePosition == 32) {
            g.EnvelopeFlag = 0;
            g.EnvelopePosition = 0;
        }
    }
}

// Shape 8: falling saw, repeated.
void EnvelopeSawDown(ChipGenerators& g) {
    g.EnvelopePosition = static_cast<int16_t>((g.EnvelopePosition - 1) & 31);
}

// Shape 10: fall, rise, fall, ...; each turning value lasts two steps.
void EnvelopeTriangleDown(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        --g.EnvelopePosition;
        if (g.EnvelopePosition == -1) {
            g.EnvelopeFlag = 0;
            g.EnvelopePosition = 0;
        }
    } else {
        ++g.EnvelopePosition;
        if (g.EnvelopePosition == 32) {
            g.EnvelopeFlag = 1;
            g.EnvelopePosition = 31;
        }
    }
}

// Shape 11: fall from 31 to 0, then jump to 31 and hold.
void EnvelopeDecayHigh(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        --g.EnvelopePosition;
        if (g.EnvelopePosition == -1) {
            g.EnvelopeFlag = 0;
            g.EnvelopePosition = 31;
        }
    }
}

// Shape 12: rising saw, repeated.
void EnvelopeSawUp(ChipGenerators& g) {
    g.EnvelopePosition = static_cast<int16_t>((g.EnvelopePosition + 1) & 31);
}

// Shape 13: rise from 0 to 31, then hold 31.
void EnvelopeAttackHigh(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        ++g.EnvelopePosition;
        if (g.EnvelopePosition == 32) {
            g.EnvelopeFlag = 0;
            g.EnvelopePosition = 31;
        }
    }
}

// Shape 14: rise, fall, rise, ...; each turning value lasts two steps.
void EnvelopeTriangleUp(ChipGenerators& g) {
    if (g.EnvelopeFlag) {
        ++g.EnvelopePosition;
        if (g.EnvelopePosition == 32) {
            g.EnvelopeFlag = 0;
            g.EnvelopePosition = 31;
        }
    } else {
        --g.EnvelopePosition;
        if (g.EnvelopePosition == -1) {
            g.EnvelopeFlag = 1;
            g.EnvelopePosition = 0;
        }
    }
}

// The step routine of each shape R13 AND 0x0F. Shapes 0-7 have the continue
// bit clear and so end silent whatever their other bits say; 9 and 15 end
// silent too (hold with the alternate bit flips the final level to 0).
const EnvelopeStepFn EnvelopeShapes[16] = {
    EnvelopeDecaySilent,  EnvelopeDecaySilent,  EnvelopeDecaySilent,  EnvelopeDecaySilent,
    EnvelopeAttackSilent, EnvelopeAttackSilent, EnvelopeAttackSilent, EnvelopeAttackSilent,
    EnvelopeSawDown,      EnvelopeDecaySilent,  EnvelopeTriangleDown, EnvelopeDecayHigh,
    EnvelopeSawUp,        EnvelopeAttackHigh,   EnvelopeTriangleUp,   EnvelopeAttackSilent,
};
