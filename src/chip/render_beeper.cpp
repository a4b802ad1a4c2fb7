// The spans of the beeper changes that waited (`SynthCursor::BeeperEdges`),
// rendered in one batch: each at the level before its change, as rendering at
// every change would. Beeper players change the level tens of thousands of
// times a second while nothing else is heard; those spans go into the frames
// one after another through one frame cursor.
#include "chip/frame_cursor.h"
#include "chip/render_plan.h"

#include <cstdint>

using namespace chip_detail;

void RenderBeeperEdges(SoundEngine& e) {
    ChipState& c = e.Chip;
    const uint32_t n = c.Cursor.BeeperEdgeCount;
    if (n == 0) return;
    c.Cursor.BeeperEdgeCount = 0;
    const int32_t base = c.Cursor.LastSynthTState, level = c.Beeper.Level;
    uint32_t i = 0;
    if (!c.TickByTick && !c.Cursor.BufferFull && FrameCursor::Follows(c) && PlanFor(c).Heard == 0) {
        // Nothing but the beeper is heard (a beeper song): the spans go into
        // the frames one after another through one cursor, as RenderUnheard
        // takes each of them. A span that would reach the buffer's end (which
        // the changes waiting here never do, see BeeperWrite) is left to the
        // plain way below.
        const RenderPlan& plan = c.Caches.Plan;
        const int32_t steadyLeft = plan.SteadyLeft, steadyRight = plan.SteadyRight;
        const uint64_t perTState = c.Machine.TicksPerTState;
        const SynthCursor::BeeperEdge* const edges = c.Cursor.BeeperEdges;
        FrameCursor w(c);
        int32_t last = base;
        uint32_t fraction = c.Cursor.TickFraction, ticks = 0, total = 0;
        for (; i < n; ++i) {
            const int32_t t = base + edges[i].Offset;
            if (t <= last) continue;
            const uint64_t p = static_cast<uint64_t>(t - last) * perTState + fraction;
            const uint32_t span = static_cast<uint32_t>(p >> 32);
            if (span == 0) continue; // less than a tick: counted again with the next
            if (span >= w.Limit - w.Pos) break;
            const int32_t left = edges[i].LevelBefore + steadyLeft;
            const int32_t right = edges[i].LevelBefore + steadyRight;
            // A beeper song has such a run every few dozen T-states: most
            // cover a few frames at most, which go frame by frame.
            if (span <= 16)
                w.RunShort(w.Pos + span, left, right);
            else
                w.RunTo(w.Pos + span, left, right);
            fraction = static_cast<uint32_t>(p);
            last = t;
            ticks = span;
            total += span;
        }
        w.Store(c);
        if (total != 0) {
            c.Cursor.LastSynthTState = last;
            c.Cursor.TickFraction = fraction;
            c.Cursor.TicksToRender = c.Cursor.TicksRendered = ticks;
            c.Caches.TicksToFill = total < c.Caches.TicksToFill ? c.Caches.TicksToFill - total : 0;
            c.Generators.UnheardTicks += total;
            if (c.Generators.UnheardTicks >= 0x40000000) SettleGenerators(c);
        }
    }
    for (; i < n; ++i) {
        c.Beeper.Level = c.Cursor.BeeperEdges[i].LevelBefore;
        RenderUpTo(e, base + c.Cursor.BeeperEdges[i].Offset);
    }
    c.Beeper.Level = level;
}
