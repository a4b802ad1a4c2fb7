// The tracker engine (see tracker_engine.h): Pro Tracker 3 and 2 modules
// played as their standard Z80 player plays them, one call a frame.
//
// A call counts the tempo down; when it runs out, each channel whose skip
// count has run out reads its next row, channel A first (finding its track's
// end moves all three to the next position; past the last one the player goes
// back to the loop position and signals the song's end). Then each channel
// makes its tone, level and mixer bits from its note, its sample's line and
// its ornament's line, and the noise and envelope registers are made last.
// The player's own rules that decide registers:
// - Pro Tracker 3: the version digit picks the note table (3.3 and earlier
//   had their own tables 0, 2 and 3) and the volume table (3.4 and earlier:
//   the older one); byte 99's low two bits pick the note table's number; a
//   Vortex Tracker II module plays as 3.6.
// - An effect's parameters follow the row, the last effect's first.
// - A portamento works out its distance from the note table (the stored one
//   is skipped); from 3.6 on it starts from where the previous slide had got
//   to. A glissade with delay 0 does nothing before 3.7 and from 3.7 shifts
//   the note once, for its whole length.
// - The envelope offsets of the three channels' sample lines are summed in a
//   byte, which is added to the envelope period with its sign. The noise
//   offset is the last channel's with noise on; the noise base (the row's
//   noise command, which the tracker compiles into channel B) starts at 0 in
//   every pattern.
// - A skip count stays until changed, across patterns; any tempo plays,
//   1 and 2 included (every channel reads its row in the same call).
// - Register 13 is written only in a frame whose row set an envelope (every
//   write restarts the envelope), with the shape last set.
// - Pro Tracker 2: note table 1 and the newer volume table; samples of three
//   bytes a line (vibrato with its sign, tone and noise masks, level),
//   glissade and portamento by a signed step a frame, the envelope period as
//   the row gives it. A channel plays a silent sample until one is named.
#include "songs/tracker_engine.h"

#include "chip/chip.h"
#include "songs/tracker_tables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// The table number of the note tables (tracker_tables.cpp) for a Pro Tracker 3
// version and note table number: 3.3 and earlier had their own tables 0, 2
// and 3; table 1 never changed.
int NoteTableIndex(int version, int number) {
    number &= 3;
    if (number == 1) return 1;
    if (version <= 3) return number;
    return number == 0 ? 4 : number + 3;
}

// One frame's registers, as the player leaves them.
struct Registers {
    uint8_t Value[StreamRegisters]{}; // the last two stay 0
    bool EnvelopeWritten = false;
    bool operator==(const Registers&) const = default;

    // The frame both players end with: each channel's tone and amplitude,
    // then the noise, mixer, envelope period and shape.
    template <class Channel>
    void Put(const Channel (&channels)[3], uint8_t noise, uint8_t mixer, uint16_t envelope,
             uint8_t shape, bool shapeWritten) {
        for (int i = 0; i < 3; ++i) {
            Value[2 * i] = static_cast<uint8_t>(channels[i].Tone);
            Value[2 * i + 1] = static_cast<uint8_t>(channels[i].Tone >> 8);
            Value[8 + i] = channels[i].Amplitude;
        }
        Value[6] = noise & 0x1F;
        Value[7] = mixer;
        Value[11] = static_cast<uint8_t>(envelope);
        Value[12] = static_cast<uint8_t>(envelope >> 8);
        Value[13] = shape;
        EnvelopeWritten = shapeWritten;
    }
};

// ---------------------------------------------------------------------------
// Pro Tracker 3

class PT3Player {
  public:
    // `secondChip`: the second chip's part of a Pro Tracker 3.7 two-chip module.
    PT3Player(const TrackerModule& m, bool secondChip)
        : Module(&m), SecondChip(secondChip && m.SharedPatterns != 0),
          Notes(TrackerNoteTables[NoteTableIndex(m.Version, m.NoteTable)]),
          Volumes(TrackerVolumeTables[m.Version <= 4 ? 0 : 1]) {
        Delay = m.Tempo;
        for (Channel& c : Channels) {
            c.Track = EmptyTrack;
            c.Sample = EmptySample;
            c.Ornament = EmptyOrnament;
        }
    }

    // One call of the player: the registers after it. `ended` is set in the
    // call that finds the position list run out.
    void Play(Registers& r, bool& ended);
    bool ReadPast() const { return Past; }
    // The position the last call moved to, or -1.
    int EnteredPosition() const { return Entered; }
    // The same state: the same frames follow.
    bool operator==(const PT3Player&) const = default;

  private:
    // Where the player points a channel before a module names anything: a
    // track that ends at once, a silent one-line sample (noise and tone off,
    // volume 0) and an ornament of one 0.
    static constexpr uint32_t EmptyTrack = 0xFFFFFFFF;
    static constexpr uint32_t EmptySample = 0xFFFFFFFE;
    static constexpr uint32_t EmptyOrnament = 0xFFFFFFFD;

    struct Channel {
        uint32_t Track = 0;    // offset of the next byte of its track
        uint32_t Sample = 0;   // offset of the sample's header (loop, length)
        uint32_t Ornament = 0; // offset of the ornament's header
        uint8_t Note = 0, SlideToNote = 0;
        uint8_t SamplePosition = 0, OrnamentPosition = 0;
        uint8_t Volume = 15;
        uint8_t SkipRows = 1, SkipCounter = 1;
        bool Enabled = false, Envelope = false;
        uint16_t ToneAccumulator = 0, ToneSliding = 0, SlideStep = 0, ToneDelta = 0;
        uint8_t SlideDelay = 0, SlideCount = 0;
        bool SimpleGliss = false;
        int8_t AmplitudeSliding = 0;
        uint8_t NoiseSliding = 0, EnvelopeSliding = 0;
        uint8_t OnDelay = 0, OffDelay = 0, OnOffCount = 0;
        uint16_t Tone = 0;
        uint8_t Amplitude = 0;
        bool operator==(const Channel&) const = default;
    };

    uint8_t Byte(uint32_t offset) {
        if (offset < Size) return Data[offset];
        Past = true;
        return 0;
    }
    uint16_t Word(uint32_t offset) {
        return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
    }
    uint8_t SampleByte(const Channel& c, uint32_t at);
    uint8_t OrnamentByte(const Channel& c, uint32_t at);
    void SetSample(Channel& c, uint8_t number) { c.Sample = Module->SampleAt[number & 31]; }
    void SetOrnament(Channel& c, uint8_t number) { c.Ornament = Module->OrnamentAt[number & 15]; }
    void SetEnvelope(Channel& c, uint8_t shape, uint32_t at);
    void NextPosition(bool& ended);
    void ReadRow(Channel& c);
    void ChannelRegisters(Channel& c, uint8_t& mixer);

    const TrackerModule* Module;
    const uint8_t* Data = Module->Data.data();
    uint32_t Size = static_cast<uint32_t>(Module->Data.size());
    bool SecondChip;
    const uint16_t* Notes;
    const uint8_t* Volumes;
    bool Past = false;
    Channel Channels[3];
    uint8_t Delay = 0, DelayCounter = 1;
    uint32_t Position = 0; // index of the playing position
    int Entered = -1;
    bool Started = false;
    uint8_t NoiseBase = 0, AddToNoise = 0, AddToEnvelope = 0;
    uint16_t EnvelopeBase = 0, EnvelopeSlide = 0, EnvelopeSlideAdd = 0;
    uint8_t EnvelopeDelay = 0, EnvelopeCounter = 0;
    uint8_t Shape = 0;
    bool ShapeWritten = false;
};

uint8_t PT3Player::SampleByte(const Channel& c, uint32_t at) {
    if (c.Sample == EmptySample) {
        // The player's own silent line; its tone offset is whatever memory
        // follows it on the machine, taken as zeros here.
        static constexpr uint8_t empty[4] = {0, 1, 0, 0x90};
        if (at < sizeof empty) return empty[at];
        Past = true;
        return 0;
    }
    return Byte(c.Sample + at);
}

uint8_t PT3Player::OrnamentByte(const Channel& c, uint32_t at) {
    if (c.Ornament == EmptyOrnament) {
        static constexpr uint8_t empty[3] = {0, 1, 0};
        return at < sizeof empty ? empty[at] : 0;
    }
    return Byte(c.Ornament + at);
}

void PT3Player::SetEnvelope(Channel& c, uint8_t shape, uint32_t at) {
    Shape = shape;
    ShapeWritten = true;
    // The period is stored high byte first.
    EnvelopeBase = static_cast<uint16_t>(Byte(at) << 8 | Byte(at + 1));
    c.Envelope = true;
    EnvelopeSlide = 0;
    EnvelopeCounter = 0;
}

void PT3Player::NextPosition(bool& ended) {
    if (Started) ++Position;
    Started = true;
    if (Position >= Module->Positions.size()) {
        Position = Module->LoopPosition;
        ended = true;
    }
    Entered = static_cast<int>(Position);
    uint32_t number = Module->Positions[Position];
    if (SecondChip) number = Module->SharedPatterns - 1u - number; // the reader checked it
    const uint32_t pattern = Module->PatternsAt + 6u * number;
    for (int i = 0; i < 3; ++i) Channels[i].Track = Word(pattern + 2u * i);
    NoiseBase = 0;
}

void PT3Player::ReadRow(Channel& c) {
    const uint8_t previousNote = c.Note;
    const uint16_t previousSliding = c.ToneSliding;
    uint8_t effects[16];
    int effectCount = 0;
    for (;;) {
        const uint8_t b = c.Track == EmptyTrack ? 0 : Byte(c.Track++);
        if (b >= 0xF0) {
            SetOrnament(c, b - 0xF0);
            SetSample(c, Byte(c.Track++) / 2);
            c.Envelope = false;
            c.OrnamentPosition = 0;
        } else if (b >= 0xD1) {
            SetSample(c, b - 0xD0);
        } else if (b == 0xD0) {
            break;
        } else if (b >= 0xC1) {
            c.Volume = b - 0xC0;
        } else if (b == 0xC0 || (b >= 0x50 && b <= 0xAF)) {
            c.SamplePosition = 0;
            c.AmplitudeSliding = 0;
            c.NoiseSliding = 0;
            c.EnvelopeSliding = 0;
            c.OrnamentPosition = 0;
            c.SlideCount = 0;
            c.ToneSliding = 0;
            c.ToneAccumulator = 0;
            c.OnOffCount = 0;
            c.Enabled = b != 0xC0;
            if (b != 0xC0) c.Note = b - 0x50;
            break;
        } else if (b >= 0xB2) {
            SetEnvelope(c, b - 0xB1, c.Track);
            c.Track += 2;
            c.OrnamentPosition = 0;
        } else if (b == 0xB1) {
            c.SkipRows = Byte(c.Track++);
        } else if (b == 0xB0) {
            c.Envelope = false;
            c.OrnamentPosition = 0;
        } else if (b >= 0x40) {
            SetOrnament(c, b - 0x40);
            c.OrnamentPosition = 0;
        } else if (b >= 0x20) {
            NoiseBase = b - 0x20;
        } else if (b >= 0x10) {
            if (b == 0x10) {
                c.Envelope = false;
            } else {
                SetEnvelope(c, b - 0x10, c.Track);
                c.Track += 2;
            }
            SetSample(c, Byte(c.Track++) / 2);
            c.OrnamentPosition = 0;
        } else if (b >= 0x01) {
            if (effectCount < 16) effects[effectCount++] = b;
        } else {
            break; // a track's end inside a row (only past a module's end)
        }
    }
    // The effects' parameters follow the row, the last effect's first.
    while (effectCount > 0) {
        switch (effects[--effectCount]) {
        case 1:
            c.SlideDelay = Byte(c.Track++);
            c.SlideCount = c.SlideDelay;
            c.SlideStep = Word(c.Track);
            c.Track += 2;
            c.SimpleGliss = true;
            c.OnOffCount = 0;
            // 3.7: a delay of 0 slides once, a lasting offset of the note.
            if (c.SlideCount == 0 && Module->Version >= 7) ++c.SlideCount;
            break;
        case 2: {
            c.SimpleGliss = false;
            c.OnOffCount = 0;
            c.SlideDelay = Byte(c.Track++);
            c.SlideCount = c.SlideDelay;
            c.Track += 2; // the stored distance: the player works it out itself
            uint16_t step = Word(c.Track);
            c.Track += 2;
            if (step & 0x8000) step = static_cast<uint16_t>(-step);
            c.ToneDelta = static_cast<uint16_t>(Notes[c.Note] - Notes[previousNote]);
            c.SlideToNote = c.Note;
            c.Note = previousNote;
            if (Module->Version >= 6) c.ToneSliding = previousSliding;
            if (static_cast<int16_t>(c.ToneDelta - c.ToneSliding) < 0)
                step = static_cast<uint16_t>(-step);
            c.SlideStep = step;
            break;
        }
        case 3: c.SamplePosition = Byte(c.Track++); break;
        case 4: c.OrnamentPosition = Byte(c.Track++); break;
        case 5:
            c.OnDelay = Byte(c.Track++);
            c.OffDelay = Byte(c.Track++);
            c.OnOffCount = c.OnDelay;
            c.SlideCount = 0;
            c.ToneSliding = 0;
            break;
        case 8:
            EnvelopeDelay = Byte(c.Track++);
            EnvelopeCounter = EnvelopeDelay;
            EnvelopeSlideAdd = Word(c.Track);
            c.Track += 2;
            break;
        case 9: Delay = Byte(c.Track++); break;
        default: break;
        }
    }
    c.SkipCounter = c.SkipRows;
}

void PT3Player::ChannelRegisters(Channel& c, uint8_t& mixer) {
    if (c.Enabled) {
        const uint32_t line = 2 + 4u * c.SamplePosition;
        const uint8_t b0 = SampleByte(c, line), b1 = SampleByte(c, line + 1);
        const uint16_t toneOffset =
            static_cast<uint16_t>(SampleByte(c, line + 2) | SampleByte(c, line + 3) << 8);
        uint16_t tone = static_cast<uint16_t>(c.ToneAccumulator + toneOffset);
        if (b1 & 0x40) c.ToneAccumulator = tone;
        uint8_t note = static_cast<uint8_t>(c.Note + OrnamentByte(c, 2u + c.OrnamentPosition));
        if (note & 0x80)
            note = 0;
        else if (note > 95)
            note = 95;
        c.Tone = static_cast<uint16_t>((tone + c.ToneSliding + Notes[note]) & 0x0FFF);
        if (c.SlideCount > 0 && --c.SlideCount == 0) {
            c.ToneSliding = static_cast<uint16_t>(c.ToneSliding + c.SlideStep);
            c.SlideCount = c.SlideDelay;
            if (!c.SimpleGliss) {
                const auto sliding = static_cast<int16_t>(c.ToneSliding);
                const auto delta = static_cast<int16_t>(c.ToneDelta);
                if ((static_cast<int16_t>(c.SlideStep) < 0 && sliding <= delta) ||
                    (static_cast<int16_t>(c.SlideStep) >= 0 && sliding >= delta)) {
                    c.Note = c.SlideToNote;
                    c.SlideCount = 0;
                    c.ToneSliding = 0;
                }
            }
        }
        if (b0 & 0x80) {
            if (b0 & 0x40) {
                if (c.AmplitudeSliding < 15) ++c.AmplitudeSliding;
            } else if (c.AmplitudeSliding > -15) {
                --c.AmplitudeSliding;
            }
        }
        int amplitude = (b1 & 0x0F) + c.AmplitudeSliding;
        amplitude = std::clamp(amplitude, 0, 15);
        c.Amplitude = Volumes[c.Volume * 16 + amplitude];
        if (!(b0 & 1) && c.Envelope) c.Amplitude |= 0x10;
        if (b1 & 0x80) {
            uint8_t offset = (b0 >> 1) & 0x1F;
            if (offset & 0x10) offset |= 0xF0;
            offset = static_cast<uint8_t>(offset + c.EnvelopeSliding);
            if (b1 & 0x20) c.EnvelopeSliding = offset;
            AddToEnvelope = static_cast<uint8_t>(AddToEnvelope + offset);
        } else {
            AddToNoise = static_cast<uint8_t>((b0 >> 1) + c.NoiseSliding);
            if (b1 & 0x20) c.NoiseSliding = AddToNoise;
        }
        mixer |= (b1 >> 1) & 0x48;
        uint8_t sp = static_cast<uint8_t>(c.SamplePosition + 1);
        if (sp >= SampleByte(c, 1)) sp = SampleByte(c, 0);
        c.SamplePosition = sp;
        uint8_t op = static_cast<uint8_t>(c.OrnamentPosition + 1);
        if (op >= OrnamentByte(c, 1)) op = OrnamentByte(c, 0);
        c.OrnamentPosition = op;
    } else {
        c.Amplitude = 0;
    }
    mixer >>= 1;
    if (c.OnOffCount > 0 && --c.OnOffCount == 0) {
        c.Enabled = !c.Enabled;
        c.OnOffCount = c.Enabled ? c.OnDelay : c.OffDelay;
    }
}

void PT3Player::Play(Registers& r, bool& ended) {
    AddToEnvelope = 0;
    ShapeWritten = false;
    Entered = -1;
    if (--DelayCounter == 0) {
        Channel& a = Channels[0];
        if (--a.SkipCounter == 0) {
            if (a.Track == EmptyTrack || Byte(a.Track) == 0) NextPosition(ended);
            ReadRow(a);
        }
        for (int i = 1; i < 3; ++i)
            if (--Channels[i].SkipCounter == 0) ReadRow(Channels[i]);
        DelayCounter = Delay;
    }
    uint8_t mixer = 0;
    for (Channel& c : Channels) ChannelRegisters(c, mixer);
    const uint16_t envelope =
        static_cast<uint16_t>(EnvelopeBase + static_cast<int8_t>(AddToEnvelope) + EnvelopeSlide);
    r.Put(Channels, static_cast<uint8_t>(NoiseBase + AddToNoise), mixer, envelope, Shape,
          ShapeWritten);
    if (EnvelopeCounter > 0 && --EnvelopeCounter == 0) {
        EnvelopeCounter = EnvelopeDelay;
        EnvelopeSlide = static_cast<uint16_t>(EnvelopeSlide + EnvelopeSlideAdd);
    }
}

// ---------------------------------------------------------------------------
// Pro Tracker 2

class PT2Player {
  public:
    explicit PT2Player(const TrackerModule& m)
        : Module(&m), Notes(TrackerNoteTables[1]), Volumes(TrackerVolumeTables[1]) {
        Delay = m.Tempo;
        for (Channel& c : Channels) {
            c.Sample = EmptySample;
            c.Ornament = m.OrnamentAt[0];
        }
    }

    void Play(Registers& r, bool& ended);
    bool ReadPast() const { return Past; }
    // The position the last call moved to, or -1.
    int EnteredPosition() const { return Entered; }
    bool operator==(const PT2Player&) const = default;

  private:
    // The sample a channel plays before the module names one: silent lines
    // (tone and noise on, volume 0, no vibrato).
    static constexpr uint32_t EmptySample = 0xFFFFFFFF;

    struct Channel {
        uint32_t Track = 0, Sample = 0, Ornament = 0;
        bool Started = false; // its track was given by a position
        uint8_t Note = 0, SlideToNote = 0;
        uint8_t SamplePosition = 0, OrnamentPosition = 0;
        uint8_t Volume = 15;
        uint8_t SkipRows = 1, SkipCounter = 1;
        bool Enabled = false, Envelope = false;
        uint8_t NoiseAdd = 0;
        int Gliss = 0; // 0 none, 1 glissade, 2 portamento
        uint8_t GlissStep = 0;
        uint16_t Distance = 0, Sliding = 0, Tone = 0;
        uint8_t Amplitude = 0;
        bool operator==(const Channel&) const = default;
    };

    uint8_t Byte(uint32_t offset) {
        if (offset < Size) return Data[offset];
        Past = true;
        return 0;
    }
    uint16_t Word(uint32_t offset) {
        return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
    }
    uint8_t SampleByte(const Channel& c, uint32_t at) {
        return c.Sample == EmptySample ? 0 : Byte(c.Sample + at);
    }
    void NextPosition(bool& ended);
    void ReadRow(Channel& c);
    void ChannelRegisters(Channel& c, uint8_t& mixer);

    const TrackerModule* Module;
    const uint8_t* Data = Module->Data.data();
    uint32_t Size = static_cast<uint32_t>(Module->Data.size());
    const uint16_t* Notes;
    const uint8_t* Volumes;
    bool Past = false;
    Channel Channels[3];
    uint8_t Delay = 0, DelayCounter = 1;
    uint32_t Position = 0;
    int Entered = -1;
    bool Started = false;
    uint8_t Noise = 0;
    uint16_t Envelope = 0;
    uint8_t Shape = 0;
    bool ShapeWritten = false;
};

void PT2Player::NextPosition(bool& ended) {
    if (Started) ++Position;
    Started = true;
    if (Position >= Module->Positions.size()) {
        Position = Module->LoopPosition;
        ended = true;
    }
    Entered = static_cast<int>(Position);
    const uint32_t pattern = Module->PatternsAt + 6u * Module->Positions[Position];
    for (int i = 0; i < 3; ++i) {
        Channels[i].Track = Word(pattern + 2u * i);
        Channels[i].Started = true;
    }
}

void PT2Player::ReadRow(Channel& c) {
    bool glissNext = false;
    for (;;) {
        if (!c.Started) break; // no position has given it a track yet
        if (c.Track >= Size) {
            // A track that runs off the module: the rest of the row is
            // missing (zeros would be commands that never end it).
            Past = true;
            break;
        }
        const uint8_t b = Byte(c.Track++);
        if (b >= 0xE1) {
            c.Sample = Module->SampleAt[b - 0xE0];
        } else if (b == 0xE0 || b >= 0x80) {
            c.SamplePosition = 0;
            c.OrnamentPosition = 0;
            c.Sliding = 0;
            c.Enabled = b != 0xE0;
            // A row's glissade or portamento goes with its note; any other
            // note stops the one before.
            if (!glissNext) c.Gliss = 0;
            if (b == 0xE0) break;
            if (c.Gliss == 2)
                c.SlideToNote = b - 0x80; // the old note slides to this one
            else
                c.Note = b - 0x80;
            break;
        } else if (b == 0x70) {
            break;
        } else if (b >= 0x71) {
            if (b == 0x7F) {
                c.Envelope = false;
            } else {
                Shape = b - 0x70;
                ShapeWritten = true;
                Envelope = Word(c.Track);
                c.Track += 2;
                c.Envelope = true;
            }
        } else if (b >= 0x60) {
            c.Ornament = Module->OrnamentAt[b - 0x60];
            c.OrnamentPosition = 0;
        } else if (b >= 0x20) {
            c.SkipRows = static_cast<uint8_t>(b - 0x20 + 1);
        } else if (b >= 0x10) {
            c.Volume = b - 0x10;
        } else if (b == 0x0F) {
            Delay = Byte(c.Track++);
        } else if (b == 0x0E) {
            c.GlissStep = Byte(c.Track++);
            c.Gliss = 1;
            glissNext = true;
        } else if (b == 0x0D) {
            c.GlissStep = Byte(c.Track++);
            c.Distance = Word(c.Track);
            c.Track += 2;
            c.Gliss = 2;
            glissNext = true;
        } else if (b == 0x0C) {
            c.Gliss = 0;
        } else {
            c.NoiseAdd = Byte(c.Track++);
        }
    }
    c.SkipCounter = c.SkipRows;
}

void PT2Player::ChannelRegisters(Channel& c, uint8_t& mixer) {
    if (c.Enabled) {
        const uint32_t line = 2 + 3u * c.SamplePosition;
        const uint8_t b0 = SampleByte(c, line), b1 = SampleByte(c, line + 1),
                      b2 = SampleByte(c, line + 2);
        uint8_t note = static_cast<uint8_t>(c.Note + Byte(c.Ornament + 2 + c.OrnamentPosition));
        if (note & 0x80)
            note = 0;
        else if (note > 95)
            note = 95;
        const uint16_t vibrato = static_cast<uint16_t>((b1 & 0x0F) << 8 | b2);
        uint16_t tone = Notes[note];
        tone = static_cast<uint16_t>(b0 & 4 ? tone + vibrato : tone - vibrato);
        c.Tone = static_cast<uint16_t>((tone + c.Sliding) & 0x0FFF);
        if (c.Gliss == 1) {
            c.Sliding = static_cast<uint16_t>(c.Sliding + static_cast<int8_t>(c.GlissStep));
        } else if (c.Gliss == 2) {
            const int step = std::abs(static_cast<int8_t>(c.GlissStep));
            if (c.Distance < step) {
                c.Note = c.SlideToNote;
                c.Gliss = 0;
                c.Sliding = 0;
            } else {
                c.Distance = static_cast<uint16_t>(c.Distance - step);
                c.Sliding = static_cast<uint16_t>(c.Sliding + static_cast<int8_t>(c.GlissStep));
            }
        }
        c.Amplitude = Volumes[c.Volume * 16 + (b1 >> 4)];
        if (c.Envelope) c.Amplitude |= 0x10;
        if (!(b0 & 1)) Noise = static_cast<uint8_t>((b0 >> 3) + c.NoiseAdd);
        mixer |= (b0 & 1) << 6 | (b0 & 2) << 2;
        uint8_t sp = static_cast<uint8_t>(c.SamplePosition + 1);
        if (sp >= SampleByte(c, 0)) sp = SampleByte(c, 1);
        c.SamplePosition = sp;
        uint8_t op = static_cast<uint8_t>(c.OrnamentPosition + 1);
        if (op >= Byte(c.Ornament)) op = Byte(c.Ornament + 1);
        c.OrnamentPosition = op;
    } else {
        c.Amplitude = 0;
    }
    mixer >>= 1;
}

void PT2Player::Play(Registers& r, bool& ended) {
    ShapeWritten = false;
    Entered = -1;
    if (--DelayCounter == 0) {
        Channel& a = Channels[0];
        if (--a.SkipCounter == 0) {
            if (!a.Started || Byte(a.Track) == 0) NextPosition(ended);
            ReadRow(a);
        }
        for (int i = 1; i < 3; ++i)
            if (--Channels[i].SkipCounter == 0) ReadRow(Channels[i]);
        DelayCounter = Delay;
    }
    uint8_t mixer = 0;
    for (Channel& c : Channels) ChannelRegisters(c, mixer);
    r.Put(Channels, Noise, mixer, Envelope, Shape, ShapeWritten);
}

} // namespace

namespace {

// The most passes from the loop position a stream holds when the module's
// state does not come back the same after one.
constexpr int MaxLoopPasses = 8;

// Plays `player` into `s` until, after the song's end, it meets a state it had
// before at the start of the same position (the frames from there repeat for
// ever), or the limits stop it. The first end is the song's length; false
// when there is none.
template <class Player>
bool Record(Player& player, const TrackerModule& module, RegisterStream& s, uint32_t frameLimit) {
    // Room for two passes of 64-row patterns at the starting tempo, so the
    // stream seldom has to move while it grows.
    const uint64_t guess = std::min<uint64_t>(uint64_t{2} * module.Positions.size() * 64 *
                                                  std::max<uint8_t>(module.Tempo, 1),
                                              frameLimit);
    s.Registers.reserve(guess * StreamRegisters);
    s.Written.reserve(guess);
    // The engine's state each time a position began, with that frame's
    // registers. Once the song has ended, a state met again at the same
    // position means that everything from the first meeting on repeats.
    struct Seen {
        uint32_t Frame;
        Player State;
        Registers Output;
    };
    std::vector<std::vector<Seen>> seen(module.Positions.size());
    uint32_t ends = 0;
    Registers r;
    for (uint32_t frame = 0; frame < frameLimit; ++frame) {
        bool ended = false;
        player.Play(r, ended);
        if (ended) {
            if (ends > MaxLoopPasses) break; // loop to the last end
            if (ends++ == 0) s.SongFrames = frame;
            s.LoopFrame = frame;
        }
        if (const int position = player.EnteredPosition(); position >= 0) {
            std::vector<Seen>& before = seen[static_cast<size_t>(position)];
            if (ends > 0)
                for (const Seen& e : before)
                    if (e.State == player && e.Output == r) {
                        s.LoopFrame = e.Frame;
                        return true;
                    }
            before.push_back({frame, player, r});
        }
        const size_t at = s.Registers.size();
        s.Registers.resize(at + StreamRegisters);
        std::memcpy(s.Registers.data() + at, r.Value, StreamRegisters);
        s.Written.push_back(static_cast<uint16_t>(r.EnvelopeWritten ? 0x3FFF : 0x1FFF));
    }
    return ends > 0;
}

// The player writes registers 0-12 in every frame; the chip needs only those
// that change (the same value written again changes nothing), so a stream
// marks those, besides register 13 where the player wrote it: all of them in
// its first frame and in the frame it loops to, whose previous frame is then
// another.
void MarkChanges(RegisterStream& s) {
    for (uint32_t f = 0; f < s.FrameCount; ++f) {
        uint16_t written = s.Written[f] & (1u << EnvelopeShape);
        for (int r = 0; r < EnvelopeShape; ++r)
            if (f == 0 || f == s.LoopFrame || s.Frame(f)[r] != s.Frame(f - 1)[r])
                written |= static_cast<uint16_t>(1u << r);
        s.Written[f] = written;
    }
}

} // namespace

std::optional<RegisterStream> ModuleStream(const TrackerModule& whole, std::string& refusal,
                                           int chip, uint32_t frameLimit) {
    const TrackerModule& module = chip == 1 && whole.SecondChip ? *whole.SecondChip : whole;
    RegisterStream s;
    s.Format = module.Format == TrackerFormat::PT3 ? StreamFormat::PT3 : StreamFormat::PT2;
    s.ChipClock = SpectrumChipClock;
    s.FrameRate = 50;
    s.Version = module.Format == TrackerFormat::PT2 ? "2" : "3." + std::to_string(module.Version);
    s.Title = module.Title;
    s.Author = module.Author;
    bool ended;
    if (module.Format == TrackerFormat::PT3) {
        PT3Player player(module, chip == 1);
        ended = Record(player, module, s, frameLimit);
        s.ReadPastModule = player.ReadPast();
    } else {
        PT2Player player(module);
        ended = Record(player, module, s, frameLimit);
        s.ReadPastModule = player.ReadPast();
    }
    if (!ended) {
        refusal = module.Format == TrackerFormat::PT3 ? "Damaged .PT3 file: the song does not end"
                                                      : "Damaged .PT2 file: the song does not end";
        return std::nullopt;
    }
    s.FrameCount = static_cast<uint32_t>(s.Written.size());
    MarkChanges(s);
    return s;
}

std::optional<RegisterStream> ModuleFileStream(TrackerFormat format, std::span<const uint8_t> bytes,
                                               std::string& refusal, uint32_t frameLimit) {
    std::optional<TrackerModule> read =
        format == TrackerFormat::PT3 ? ReadPT3File(bytes, refusal) : ReadPT2File(bytes, refusal);
    if (!read) return std::nullopt;
    auto module = std::make_shared<const TrackerModule>(std::move(*read));
    std::optional<RegisterStream> stream = ModuleStream(*module, refusal, 0, frameLimit);
    if (stream) stream->Module = std::move(module);
    return stream;
}
