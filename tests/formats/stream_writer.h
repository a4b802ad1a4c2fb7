// Builders of small ".ym", ".vtx" and ".psg" files for the register-stream
// tests: plain frames in, file bytes out, packed with a minimal lh5 encoder
// (literals only, one fixed 8-bit code each) so that liblhasa has real
// archives and raw streams to unpack.
#pragma once

#include "song_files.h"

#include <string>
#include <vector>

// One frame: 16 register values (14 chip registers, then the YM5/YM6 timer counts).
using StreamFrame = std::vector<uint8_t>;

namespace stream_writer {

inline void Be32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}
inline void Be16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
inline void Le32(Bytes& out, uint32_t v) {
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
}
inline void Le16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
// Byte by byte: GCC 12 sees out-of-bounds copies in vector range inserts here.
template <typename Range> void Append(Bytes& out, const Range& bytes) {
    for (const auto b : bytes) out.push_back(static_cast<uint8_t>(b));
}
inline void Text(Bytes& out, const std::string& t) {
    Append(out, t);
    out.push_back(0);
}

// `count` registers of every frame, interleaved (all frames' R0, then R1...)
// or frame after frame.
inline Bytes Registers(const std::vector<StreamFrame>& frames, int count, bool interleaved) {
    Bytes out;
    if (interleaved) {
        for (int r = 0; r < count; ++r)
            for (const StreamFrame& f : frames) out.push_back(f.at(r));
    } else {
        for (const StreamFrame& f : frames) out.insert(out.end(), f.begin(), f.begin() + count);
    }
    return out;
}

class BitWriter {
  public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) {
                out_.push_back(acc_);
                n_ = 0;
            }
        }
    }
    Bytes Finish() {
        while (n_) Put(0, 1);
        return out_;
    }

  private:
    Bytes out_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

// An lh5 stream of literals: each block declares a one-symbol code-length
// tree that always gives length 8 (symbol 10), 256 literal codes of 8 bits
// (so a byte's code is the byte), and an unused one-symbol position tree.
inline Bytes Lh5(const Bytes& data) {
    BitWriter bits;
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(data.size() - at, 0xFFFF);
        bits.Put(static_cast<uint32_t>(n), 16);
        bits.Put(0, 5);   // code-length tree: one symbol...
        bits.Put(10, 5);  // ...10, a length of 8
        bits.Put(256, 9); // 256 literal lengths, all decoded without bits
        bits.Put(0, 4);   // position tree: one symbol...
        bits.Put(0, 4);   // ...0
        for (size_t i = 0; i < n; ++i) bits.Put(data[at + i], 8);
        at += n;
    }
    return bits.Finish();
}

inline uint16_t Crc16(const Bytes& bytes) {
    uint16_t crc = 0;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// An LHA archive of one file, "-lh5-" or stored ("-lh0-"), with a level-0
// header, or a level-1 header with one extended header (a Unix time) as the
// Amiga and DOS packers wrote them.
inline Bytes Lha(const Bytes& file, bool compress = true, int level = 0) {
    const Bytes packed = compress ? Lh5(file) : file;
    const std::string name = "song.ym";
    const Bytes extended = {0x54, 0x00, 0x00, 0x2B, 0x5F, 0x00, 0x00}; // type, time, next size
    Bytes h;
    const std::string method = compress ? "-lh5-" : "-lh0-";
    h.insert(h.end(), method.begin(), method.end());
    Le32(h, static_cast<uint32_t>(packed.size() + (level == 1 ? extended.size() : 0)));
    Le32(h, static_cast<uint32_t>(file.size()));
    Le32(h, 0x21210000);                      // a DOS time
    h.push_back(0x20);                        // attribute
    h.push_back(static_cast<uint8_t>(level)); // header level
    h.push_back(static_cast<uint8_t>(name.size()));
    h.insert(h.end(), name.begin(), name.end());
    Le16(h, Crc16(file));
    if (level == 1) {
        h.push_back('M'); // the packer's system
        Le16(h, static_cast<uint16_t>(extended.size()));
    }
    uint8_t sum = 0;
    for (uint8_t b : h) sum = static_cast<uint8_t>(sum + b);
    Bytes out{static_cast<uint8_t>(h.size()), sum};
    Append(out, h);
    if (level == 1) Append(out, extended);
    Append(out, packed);
    out.push_back(0); // end of archive
    return out;
}

} // namespace stream_writer

struct YMPlan {
    std::string Version = "YM6!"; // "YM2!", "YM3!", "YM3b", "YM5!", "YM6!"
    std::vector<StreamFrame> Frames;
    bool Interleaved = true;
    uint32_t Attributes = 0; // besides the interleave bit
    uint32_t Clock = 2000000;
    uint16_t Rate = 50;
    uint32_t Loop = 0;
    std::vector<Bytes> Drums;
    std::string Title = "Title", Author = "Author", Comment = "Comment";
    int32_t FrameCountShift = 0; // added to the declared frame count
    bool Packed = false;
};

inline Bytes MakeYM(const YMPlan& p) {
    using namespace stream_writer;
    Bytes out;
    Append(out, p.Version);
    if (p.Version == "YM5!" || p.Version == "YM6!") {
        const std::string check = "LeOnArD!";
        Append(out, check);
        Be32(out,
             static_cast<uint32_t>(p.Frames.size()) + static_cast<uint32_t>(p.FrameCountShift));
        Be32(out, p.Attributes | (p.Interleaved ? 1 : 0));
        Be16(out, static_cast<uint16_t>(p.Drums.size()));
        Be32(out, p.Clock);
        Be16(out, p.Rate);
        Be32(out, p.Loop);
        Be16(out, 0);
        for (const Bytes& d : p.Drums) {
            Be32(out, static_cast<uint32_t>(d.size()));
            Append(out, d);
        }
        Text(out, p.Title);
        Text(out, p.Author);
        Text(out, p.Comment);
        const Bytes regs = Registers(p.Frames, 16, p.Interleaved);
        Append(out, regs);
        Append(out, std::string("End!"));
    } else {
        const Bytes regs = Registers(p.Frames, 14, true);
        Append(out, regs);
        if (p.Version == "YM3b") Be32(out, p.Loop);
    }
    return p.Packed ? Lha(out) : out;
}

struct VTXPlan {
    std::string Chip = "ay";
    uint8_t Layout = 1;
    uint16_t Loop = 0;
    uint32_t Clock = 1773400;
    uint8_t Rate = 50;
    uint16_t Year = 1989;
    std::vector<StreamFrame> Frames;
    int32_t SizeShift = 0; // added to the declared unpacked size
    std::string Texts[5] = {"Title", "Author", "Program", "Tracker", "Comment"};
};

inline Bytes MakeVTX(const VTXPlan& p) {
    using namespace stream_writer;
    Bytes out;
    Append(out, p.Chip);
    out.push_back(p.Layout);
    Le16(out, p.Loop);
    Le32(out, p.Clock);
    out.push_back(p.Rate);
    Le16(out, p.Year);
    const Bytes regs = Registers(p.Frames, 14, true);
    Le32(out, static_cast<uint32_t>(static_cast<int32_t>(regs.size()) + p.SizeShift));
    for (const std::string& t : p.Texts) Text(out, t);
    const Bytes packed = Lh5(regs);
    Append(out, packed);
    return out;
}

// PSG bytes from a list of (register, value) pairs and markers.
inline Bytes MakePSG(const Bytes& body) {
    Bytes out{'P', 'S', 'G', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    stream_writer::Append(out, body);
    return out;
}
