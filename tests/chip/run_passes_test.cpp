// MakeBuffer runs the Z80 through RunPasses, which keeps the refresh register,
// the T-state counter and PC in locals and dispatches the unprefixed page
// through a table of labels. It must leave the processor, the chip and the
// samples exactly as the plain FramePass loop does, also for code that
// reaches every place where RunPasses hands its locals over (prefixes, LD R,A,
// port instructions, HALT, interrupts in IM 2).
#include "equivalence_runner.h"

#include <gtest/gtest.h>

using chiptest::Asm;
using chiptest::Rig;

// Real songs run through the same comparison in the renderer's equivalence
// tests; this program reaches the places they may miss.
TEST(RunPasses, PrefixesRefreshPortsHaltAndImTwo) {
    chiptest::EquivalenceRunner run;
    run.Both([](Rig& r) {
        Z80State& z = r.Z(); // IM 2 vector at 0x3BFF -> handler at 0x0200: beeper toggle, a chip
        // write, IN, EI, RET.
        z.Memory[0x3BFF] = 0x00;
        z.Memory[0x3C00] = 0x02;
        Asm h(0x0200);
        h.Bytes({0xF5, 0xC5})                 // PUSH AF; PUSH BC
            .Bytes({0xED, 0x5F})              // LD A,R
            .OutNA(0xFE)                      // beeper from bit 4 of R
            .SpectrumWrite(VolumeA, 0x0C)     // channel A at a fixed level
            .InAN(0xFE)                       // IN A,(0xFE)
            .Bytes({0xC1, 0xF1, 0xFB, 0xC9}); // POP BC; POP AF; EI; RET
        h.LoadInto(z);
        Asm m(0x0100);
        m.Di().LdSp(0xF000).LdA(0x3B).LdAI().Im2();
        m.LdA(0x85).Bytes({0xED, 0x4F}); // LD R,A: sets bit 7 of R
        m.SpectrumWrite(Mixer, 0x3E).SpectrumWrite(ToneFineA, 0x40);
        m.Ei();
        const uint16_t loop = m.Here();
        m.Bytes({0xDD, 0xDD, 0x21, 0x34, 0x12}) // DD DD LD IX,nn
            .Bytes({0xFD, 0xCB, 0x01, 0x06})    // RLC (IY+1)
            .Bytes({0xCB, 0x07})                // RLC A
            .Bytes({0xED, 0x5F})                // LD A,R
            .OutNA(0xFE)                        // beeper
            .LdB(0x20)
            .Bytes({0x10, 0xFE}) // DJNZ $
            .LdBC(0x00FE)
            .Bytes({0xED, 0x79}) // OUT (C),A
            .Bytes({0xED, 0x78}) // IN A,(C)
            .Halt()
            .Jp(loop);
        m.LoadInto(z);
        z.PC = 0x0100;
        z.IY = 0x9000;
    });
    ASSERT_TRUE(run.Play(3));
}
