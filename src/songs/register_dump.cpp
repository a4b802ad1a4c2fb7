// Register dumps: the chip's registers at every frame end of an emulated
// song, written as an uncompressed YM6 file or as a PSG file, for players on
// real chips and for other players of these formats.
#include "songs/register_player.h"

#include <algorithm>

RegisterRecorder::RegisterRecorder(const SoundEngine& e)
    : Engine(e), Restarts(e.Chip.Registers.EnvelopeWrites) {}

void RegisterRecorder::FrameEnded(int32_t) {
    const ChipState& c = Engine.Chip;
    uint8_t regs[StreamRegisters]{};
    std::copy(std::begin(c.Registers.Values), std::end(c.Registers.Values), regs);
    uint32_t restarts = c.Registers.EnvelopeWrites;
    // A write that the frame made but that waits for the next buffer is the
    // frame's all the same.
    if (c.Deferred.WritePending && c.Deferred.Register >= 0 && c.Deferred.Register < 14) {
        regs[c.Deferred.Register] = static_cast<uint8_t>(c.Deferred.Value);
        if (c.Deferred.Register == 13) ++restarts;
    }
    if (restarts == Restarts) regs[13] = 0xFF; // the envelope was not restarted
    Restarts = restarts;
    DumpedFrames.insert(DumpedFrames.end(), regs, regs + StreamRegisters);
}

namespace {

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
void PutBe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void PutText(std::vector<uint8_t>& out, const std::string& text) {
    // A text ends at its first zero byte in the file.
    out.insert(out.end(), text.begin(), std::find(text.begin(), text.end(), '\0'));
    out.push_back(0);
}

} // namespace

std::vector<uint8_t> WriteYM6(const std::vector<uint8_t>& frames, uint32_t chipClock,
                              uint32_t frameRate, uint32_t loopFrame, const DumpTexts& texts) {
    const auto count = static_cast<uint32_t>(frames.size() / StreamRegisters);
    std::vector<uint8_t> out{'Y', 'M', '6', '!', 'L', 'e', 'O', 'n', 'A', 'r', 'D', '!'};
    PutBe32(out, count);
    PutBe32(out, 1); // attributes: interleaved
    PutBe16(out, 0); // no digidrums
    PutBe32(out, chipClock);
    PutBe16(out, static_cast<uint16_t>(frameRate));
    PutBe32(out, count ? std::min(loopFrame, count - 1) : 0);
    PutBe16(out, 0); // no additional data
    PutText(out, texts.Title);
    PutText(out, texts.Author);
    PutText(out, texts.Comment);
    const size_t data = out.size();
    out.resize(data + size_t{count} * StreamRegisters);
    for (uint32_t f = 0; f < count; ++f)
        for (int r = 0; r < StreamRegisters; ++r) {
            // The chip's registers only: spare bits and bytes 14-15 would
            // start effects.
            static constexpr uint8_t Mask[StreamRegisters] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F,
                                                              0x1F, 0x3F, 0x1F, 0x1F, 0x1F, 0xFF,
                                                              0xFF, 0xFF, 0,    0};
            out[data + size_t(r) * count + f] = frames[size_t{f} * StreamRegisters + r] & Mask[r];
        }
    out.insert(out.end(), {'E', 'n', 'd', '!'});
    return out;
}

std::vector<uint8_t> WritePSG(const std::vector<uint8_t>& frames) {
    std::vector<uint8_t> out{'P', 'S', 'G', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t held[14]{};
    bool first = true;
    for (size_t f = 0; f + StreamRegisters <= frames.size(); f += StreamRegisters) {
        const uint8_t* regs = &frames[f];
        for (uint8_t r = 0; r < 14; ++r) {
            const bool write = r == 13 ? regs[13] != 0xFF : (first || regs[r] != held[r]);
            if (!write) continue;
            out.push_back(r);
            out.push_back(regs[r]);
            held[r] = regs[r];
        }
        first = false;
        out.push_back(0xFF); // the frame's end
    }
    return out;
}
