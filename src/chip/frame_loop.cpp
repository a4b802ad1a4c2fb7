// The frame loop: runs the Z80 instruction by instruction, raises the 50 Hz
// maskable interrupt at the start of every frame of 69888 T-states, renders
// the sound at every frame end, and stops when the output buffer holds its
// 32640 values.
//
// Where this differs from the hardware, on purpose: the interrupt line is
// active for the first 21 T-states of a frame and is not latched, acceptance
// costs 12 T-states (IM 0 and 1) or 18 (IM 2), and there is no contention;
// Spectrum and CPC songs alike run at 69888 T-states per 50 Hz frame.
#include "chip/chip.h"

bool BeginBuffer(SoundEngine& e) {
    ChipState& c = e.Chip;
    c.Cursor.OutputCount = 0;
    if (c.Cursor.BufferFull) {
        Synthesizer(e);
        if (c.Cursor.BufferFull) return false; // the rest filled this buffer too
        if (c.Deferred.BeeperPending) {
            c.Deferred.BeeperPending = 0;
            c.Beeper.Level = c.Beeper.NewLevel;
        }
        if (c.Deferred.WritePending) {
            c.Deferred.WritePending = 0;
            WriteRegister(c, c.Deferred.Register, c.Deferred.Value);
        }
    }
    MeasureTicksToFill(c);
    return true;
}

void FramePass(SoundEngine& e) {
    Z80State& z = e.Z80;
    ChipState& c = e.Chip;
    RefreshIncrement(z);
    if (z.IFF1 && !z.EIDelay && z.TStates < InterruptWindow) {
        z.TStates += AcceptInterrupt(z);
    } else {
        z.EIDelay = 0;
        z.TStates += ExecuteInstruction(z);
    }
    if (z.TStates >= FrameTStates) {
        z.TStates -= FrameTStates;
        c.Cursor.LastSynthTState -= FrameTStates; // the span still to render keeps its length
        if (c.Cursor.OutputCount < BufferValues && z.TStates != c.Cursor.LastSynthTState)
            Synthesizer(e);
    }
}

namespace {

// The same passes as FramePass, with the Z80 running uninterrupted between
// two frame ends or until an OUT fills the buffer.
template <typename OnFrameEnd> void FillBuffer(SoundEngine& e, OnFrameEnd onFrameEnd) {
    ChipState& c = e.Chip;
    if (!BeginBuffer(e)) {
        SettleGenerators(c);
        return;
    }
    Z80State& z = e.Z80;
    while (c.Cursor.OutputCount < BufferValues) {
        RunPasses(z, c.Cursor.OutputCount, BufferValues);
        if (z.TStates >= FrameTStates) {
            z.TStates -= FrameTStates;
            c.Cursor.LastSynthTState -= FrameTStates; // the span still to render keeps its length
            onFrameEnd(z.TStates);
            if (c.Cursor.OutputCount < BufferValues && z.TStates != c.Cursor.LastSynthTState)
                Synthesizer(e);
        }
    }
    SettleGenerators(c); // the state between buffers is the whole state
}

} // namespace

void MakeBuffer(SoundEngine& e) {
    FillBuffer(e, [](int32_t) {});
}

void MakeBuffer(SoundEngine& e, FrameEndObserver& observer) {
    FillBuffer(e, [&observer](int32_t tStates) { observer.FrameEnded(tStates); });
}
