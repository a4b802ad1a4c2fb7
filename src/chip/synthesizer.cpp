// The synthesizer: turns the chip's generators into 16-bit stereo PCM at
// 44,100 frames per second. Elapsed Z80 T-states become whole chip ticks
// (32.32 fixed point, the fraction carried between spans); every tick's mix is
// summed, and an output frame is the truncated average of the 5 or 6 (CPC: 2 or
// 3) ticks it owns, the ownership tracked in 16.16 fixed point. The levels come
// from the volume tables (volume_tables.cpp).
//
// Where this differs from the hardware, on purpose:
// - The chip's output is taken as unipolar (0 up to the level), and the
//   beeper as a negative offset; sums are never clipped because the tables
//   keep every side within 16 bits.
// - Averaging over a frame is the only low-pass filter.
//
// This file holds the tick-by-tick renderer, which is the definition, and the
// fast renderer's choice for each span (`RenderFast`): a span in which no
// generator that is heard changes is one run of equal ticks (here); otherwise
// the span is cut at each change of a heard output (render_events.cpp) or,
// where heard outputs change every few ticks, taken 64 ticks at a time as bit
// masks (render_dense.cpp); the spans of beeper changes that waited go into
// the frames in one batch (render_beeper.cpp). Every fast path gives the
// definition's samples and state, and writes frames only through the frame
// cursor (frame_cursor.h), which owns the buffer's bound.
#include "chip/chip.h"
#include "chip/frame_cursor.h"
#include "chip/generators_inline.h"
#include "chip/render_plan.h"

#include <cstdint>

using namespace chip_detail;

namespace {

// Closes the current output frame with the given values. True when that
// filled the buffer; the rest of the span, if any, waits in `BufferFull`.
inline bool EmitFrame(ChipState& c, int32_t left, int32_t right) {
    c.Cursor.SampleBoundary += c.Machine.TicksPerSample;
    const uint16_t owed =
        static_cast<uint16_t>((c.Cursor.SampleBoundary >> 16) - c.Cursor.TicksInSample);
    c.Cursor.SampleBoundary =
        (c.Cursor.SampleBoundary & 0xFFFF) | (static_cast<uint32_t>(owed) << 16);
    c.Cursor.OutputBuffer[c.Cursor.OutputCount] = static_cast<int16_t>(left);
    c.Cursor.OutputBuffer[c.Cursor.OutputCount + 1] = static_cast<int16_t>(right);
    c.Cursor.OutputCount = static_cast<uint16_t>(c.Cursor.OutputCount + 2);
    c.Cursor.SumLeft = 0;
    c.Cursor.SumRight = 0;
    c.Cursor.TicksInSample = 0;
    if (c.Cursor.OutputCount >= BufferValues) {
        if (c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
        return true;
    }
    return false;
}

// One tick exactly as defined: step, mix, count, close the frame when it has
// all its ticks. True when the buffer filled.
inline bool RenderOneTick(ChipState& c) {
    StepGeneratorsInline(c);
    int32_t left, right;
    MixLevel(c, left, right);
    c.Cursor.SumLeft += left;
    c.Cursor.SumRight += right;
    ++c.Cursor.TicksRendered;
    ++c.Cursor.TicksInSample;
    if (c.Cursor.TicksInSample >= static_cast<int32_t>(c.Cursor.SampleBoundary >> 16))
        return EmitFrame(c, c.Cursor.SumLeft / c.Cursor.TicksInSample,
                         c.Cursor.SumRight / c.Cursor.TicksInSample);
    return false;
}

} // namespace

void MixTick(ChipState& c) {
    int32_t left, right;
    MixLevel(c, left, right);
    c.Cursor.SumLeft += left;
    c.Cursor.SumRight += right;
}

void MeasureTicksToFill(ChipState& c) {
    // Frames own whole ticks: the open frame closes after `owed - InSample`
    // more, and the m frames after it take floor((fraction + m x
    // TicksPerSample) / 65536) together. Output positions the frame loop
    // never leaves (a damaged state) count as unknown.
    const uint32_t owed = c.Cursor.SampleBoundary >> 16;
    if (c.Cursor.OutputCount >= BufferValues || c.Cursor.TicksInSample < 0 ||
        owed <= static_cast<uint32_t>(c.Cursor.TicksInSample) ||
        c.Machine.TicksPerSample < 0x10000) {
        c.Caches.TicksToFill = 0;
        return;
    }
    const uint64_t room = (BufferValues - c.Cursor.OutputCount) / 2;
    const uint64_t fill = owed - static_cast<uint32_t>(c.Cursor.TicksInSample) +
                          (((c.Cursor.SampleBoundary & 0xFFFF) +
                            (room - 1) * static_cast<uint64_t>(c.Machine.TicksPerSample)) >>
                           16);
    c.Caches.TicksToFill = static_cast<uint32_t>(fill);
}

void SettleGenerators(ChipState& c) {
    if (c.Generators.UnheardTicks == 0) return;
    AdvanceGenerators(c, c.Generators.UnheardTicks);
    c.Generators.UnheardTicks = 0;
}

void RenderTicksReference(ChipState& c) {
    SettleGenerators(c);
    // A full buffer takes nothing more: the span waits for the next one.
    if (c.Cursor.OutputCount >= BufferValues) {
        if (c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
        return;
    }
    while (c.Cursor.TicksRendered < c.Cursor.TicksToRender) {
        if (RenderOneTick(c)) return;
    }
}

namespace {

// A span in which nothing that changes is heard (the usual state while only
// the beeper plays): every tick mixes the same, so the span is one run of
// ticks into the frames; the generators only count the ticks and catch up
// later in closed form.
[[gnu::always_inline]] inline void RenderUnheard(ChipState& c, const RenderPlan& plan,
                                                 uint32_t total) {
    // Any other output position (only a damaged state) goes tick by tick.
    if (!FrameCursor::Follows(c)) [[unlikely]] {
        RenderTicksReference(c);
        return;
    }
    FrameCursor w(c);
    w.RunTo(total, c.Beeper.Level + plan.SteadyLeft, c.Beeper.Level + plan.SteadyRight);
    const uint32_t pos = w.Pos;
    w.Store(c);
    c.Cursor.TicksRendered += pos;
    if (w.Full() && c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
    // The generators catch up later, all at once.
    c.Generators.UnheardTicks += pos;
    if (c.Generators.UnheardTicks >= 0x40000000) SettleGenerators(c);
}

// The fast renderer, shared by `RenderTicksFast` and `Synthesizer` (which
// would otherwise pay a second call for every short span).
[[gnu::always_inline]] inline void RenderFast(ChipState& c) {
    if (c.Cursor.TicksRendered >= c.Cursor.TicksToRender) return;
    const uint32_t total = c.Cursor.TicksToRender - c.Cursor.TicksRendered;
    const RenderPlan& plan = PlanFor(c);
    if (plan.Heard == 0) {
        RenderUnheard(c, plan, total);
    } else {
        SettleGenerators(c);
        if (IsDense(c, plan))
            RenderDense(c, plan, total);
        else
            RenderEvents(c, plan, total);
    }
}

} // namespace

void RenderTicksFast(ChipState& c) {
    RenderFast(c);
    SettleGenerators(c);
}

void RenderTicks(ChipState& c) {
    if (c.TickByTick)
        RenderTicksReference(c);
    else
        RenderTicksFast(c);
}

// The span from `LastSynthTState` up to `tStates`, rendered.
void chip_detail::RenderUpTo(SoundEngine& e, int32_t tStates) {
    ChipState& c = e.Chip;
    if (c.Cursor.BufferFull) {
        // The rest of a span that did not fit the previous buffer. A buffer
        // that is still full has no room for it: it stays pending.
        if (c.Cursor.OutputCount >= BufferValues) return;
        c.Cursor.BufferFull = 0;
    } else {
        const int32_t d = tStates - c.Cursor.LastSynthTState;
        if (d <= 0) return;
        const uint64_t p =
            static_cast<uint64_t>(d) * c.Machine.TicksPerTState + c.Cursor.TickFraction;
        if ((p >> 32) == 0) return; // less than a tick: counted again next time
        c.Cursor.TickFraction = static_cast<uint32_t>(p);
        c.Cursor.TicksToRender = static_cast<uint32_t>(p >> 32);
        c.Cursor.LastSynthTState = tStates;
        c.Cursor.TicksRendered = 0;
        if (c.Cursor.OutputCount >= BufferValues) {
            // No room left in this buffer: the whole span goes to the next.
            c.Cursor.BufferFull = 1;
            return;
        }
    }
    // Every tick rendered brings the buffer's end one tick closer.
    const uint32_t from = c.Cursor.TicksRendered;
    if (c.TickByTick)
        RenderTicksReference(c);
    else
        RenderFast(c);
    const uint32_t rendered = c.Cursor.TicksRendered - from;
    c.Caches.TicksToFill = rendered < c.Caches.TicksToFill ? c.Caches.TicksToFill - rendered : 0;
}

void Synthesizer(SoundEngine& e) {
    if (e.Chip.Cursor.BeeperEdgeCount != 0) RenderBeeperEdges(e);
    RenderUpTo(e, e.Z80.TStates);
}
