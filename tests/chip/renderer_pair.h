// Differential testing of the fast renderer against the tick-by-tick
// definition: state comparisons, and a pair of engines fed the same writes
// whose full buffers are collected as the frame loop would.
#pragma once

#include "chip_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace chiptest {

#define ZF_SAME(field)                                                                             \
    if (!(a.field == b.field))                                                                     \
        return ::testing::AssertionFailure() << #field << ": " << +a.field << " vs " << +b.field;
#define ZF_SAME3(field)                                                                            \
    for (int i = 0; i < 3; ++i) ZF_SAME(field[i])
// The generators: counters, outputs, noise register and envelope, each
// state brought up to date first (spans nobody hears leave them behind).
inline ::testing::AssertionResult SameGenerators(const ChipState& first, const ChipState& second) {
    ChipState a = first, b = second;
    SettleGenerators(a);
    SettleGenerators(b);
    ZF_SAME3(ToneCounter);
    ZF_SAME3(ToneOutput);
    ZF_SAME(NoiseCounter);
    ZF_SAME(NoiseShift);
    ZF_SAME(EnvelopeCounter);
    ZF_SAME(EnvelopePosition);
    ZF_SAME(EnvelopeFlag);
    if (a.EnvelopeStep != b.EnvelopeStep) return ::testing::AssertionFailure() << "EnvelopeStep";
    return ::testing::AssertionSuccess();
}

// The whole chip state but the buffer pointer.
inline ::testing::AssertionResult SameState(const ChipState& a, const ChipState& b) {
    if (auto generators = SameGenerators(a, b); !generators) return generators;
    for (int r = 0; r < 14; ++r) ZF_SAME(Regs[r]);
    ZF_SAME(SelectedRegister);
    ZF_SAME3(ToneOn);
    ZF_SAME3(NoiseOn);
    ZF_SAME3(FixedVolume);
    if (a.OutHandler != b.OutHandler) return ::testing::AssertionFailure() << "OutHandler";
    ZF_SAME(PpiLatch);
    ZF_SAME(PpiControl);
    ZF_SAME(BeeperAmplitude);
    ZF_SAME(BeeperLevel);
    ZF_SAME(BeeperNewLevel);
    ZF_SAME(BufferFull);
    ZF_SAME(BeeperPending);
    ZF_SAME(WritePending);
    ZF_SAME(PendingRegister);
    ZF_SAME(PendingValue);
    ZF_SAME(LastSynthTState);
    ZF_SAME(TickFraction);
    ZF_SAME(TicksToRender);
    ZF_SAME(TicksRendered);
    ZF_SAME(TicksInSample);
    ZF_SAME(SumLeft);
    ZF_SAME(SumRight);
    ZF_SAME(SampleBoundary);
    ZF_SAME(OutputCount);
    ZF_SAME(TicksPerTState);
    ZF_SAME(TicksPerSample);
    return ::testing::AssertionSuccess();
}
#undef ZF_SAME3
#undef ZF_SAME

// A tick-by-tick renderer and a fast one given the same OUTs.
struct RendererPair {
    Rig Ref, Fast;
    std::vector<int16_t> RefOut, FastOut;

    RendererPair() { Ref.C().TickByTick = 1; }

    template <typename F> void Both(F f) {
        f(Ref);
        f(Fast);
    }

    // Moves to a fresh buffer whenever the current one is full, keeping
    // what both renderers wrote.
    void CollectFullBuffers() {
        while (Ref.C().OutputCount >= BufferValues || Fast.C().OutputCount >= BufferValues) {
            RefOut.insert(RefOut.end(), Ref.C().OutputBuffer, Ref.C().OutputBuffer + BufferValues);
            FastOut.insert(FastOut.end(), Fast.C().OutputBuffer,
                           Fast.C().OutputBuffer + BufferValues);
            Both([](Rig& r) {
                r.C().OutputBuffer =
                    r.C().OutputBuffer == r.Buffer1.data() ? r.Buffer2.data() : r.Buffer1.data();
                BeginBuffer(r.E());
            });
        }
    }
};

} // namespace chiptest
