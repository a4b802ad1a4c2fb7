// Unpacking the LHA-packed register streams with Debian's liblhasa: YM files
// are LHA archives of one file (usually "-lh5-"), VTX files carry a raw
// "-lh5-" stream after their header. The packed bytes are already in memory;
// liblhasa reads them through callbacks. What comes out is capped, so a small
// hostile file cannot claim gigabytes.
//
// The archive's header is read by liblhasa. Where liblhasa refuses a level-0
// or level-1 header, it is read again the way the YM players of the time read
// it: the header's checksum is not checked and the packed data is looked for
// both where the header's size byte puts it and right after the file's name
// and CRC (the packers that made some of those files wrote a size byte or a
// checksum that does not match their header). The unpacked bytes' CRC is
// checked all the same, so a wrong guess is never taken for music.
#include "formats/register_stream.h"

#include <lhasa.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Packed bytes in memory as liblhasa's input stream.
struct MemoryInput {
    std::span<const uint8_t> Bytes;
    size_t Position = 0;

    size_t Take(void* buf, size_t length) {
        const size_t n = std::min(length, Bytes.size() - Position);
        if (n) std::memcpy(buf, Bytes.data() + Position, n);
        Position += n;
        return n;
    }
};

int ReadInput(void* handle, void* buf, size_t length) {
    const size_t n = static_cast<MemoryInput*>(handle)->Take(buf, length);
    return static_cast<int>(std::min<size_t>(n, 0x7FFFFFFF));
}

int SkipInput(void* handle, size_t bytes) {
    auto* in = static_cast<MemoryInput*>(handle);
    if (bytes > in->Bytes.size() - in->Position) return 0;
    in->Position += bytes;
    return 1;
}

void CloseInput(void*) {}

const LHAInputStreamType MemoryInputType = {ReadInput, SkipInput, CloseInput};

size_t DecoderInput(void* buf, size_t length, void* handle) {
    return static_cast<MemoryInput*>(handle)->Take(buf, length);
}

// The CRC LHA archives keep of each file's unpacked bytes (CRC-16/ARC:
// reflected polynomial 0xA001, start 0).
uint16_t Crc16(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

uint32_t Le32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>((p[1] << 8) | p[0]); }

struct StreamDeleter {
    void operator()(LHAInputStream* s) const { lha_input_stream_free(s); }
};
struct ReaderDeleter {
    void operator()(LHAReader* r) const { lha_reader_free(r); }
};
struct DecoderDeleter {
    void operator()(LHADecoder* d) const { lha_decoder_free(d); }
};

// Where an archive's first file is and what it unpacks to.
struct Member {
    size_t DataStart = 0; // from the archive's start
    size_t PackedLength = 0;
    size_t Length = 0;
    uint16_t Crc = 0;
    char Method[6] = "";
};

// The first file's header as liblhasa reads it; nothing when it refuses it.
std::optional<Member> CheckedMember(std::span<const uint8_t> bytes) {
    MemoryInput input{bytes};
    std::unique_ptr<LHAInputStream, StreamDeleter> stream(
        lha_input_stream_new(&MemoryInputType, &input));
    std::unique_ptr<LHAReader, ReaderDeleter> reader(stream ? lha_reader_new(stream.get())
                                                            : nullptr);
    if (!reader) return std::nullopt;
    const LHAFileHeader* header = lha_reader_next_file(reader.get());
    if (!header) return std::nullopt;
    Member m;
    // The archive starts at the first byte (the caller saw its method name
    // there), so its data follows the whole header, extended headers and all.
    m.DataStart = header->raw_data_len;
    m.PackedLength = header->compressed_length;
    m.Length = header->length;
    m.Crc = header->crc;
    std::memcpy(m.Method, header->compress_method, sizeof m.Method);
    return m;
}

// A level-0 or level-1 header that liblhasa refused, read as the YM players
// read it: the places where the packed data may start, most likely first.
std::vector<Member> LenientMembers(std::span<const uint8_t> bytes) {
    if (bytes.size() < 24) return {};
    const uint8_t* h = bytes.data();
    const size_t nameLength = h[21];
    const int level = h[20];
    Member m;
    std::memcpy(m.Method, h + 2, 5);
    m.PackedLength = Le32(h + 7);
    m.Length = Le32(h + 11);
    const size_t nameEnd = 22 + nameLength; // the CRC follows the name
    if (bytes.size() < nameEnd + 2) return {};
    m.Crc = Le16(h + nameEnd);
    std::vector<Member> found;
    if (level == 0) {
        // The size byte counts the header after its first two bytes; a
        // larger one than the name needs holds an extended area.
        if (h[0] > nameEnd) {
            m.DataStart = size_t{h[0]} + 2;
            found.push_back(m);
        }
        m.DataStart = nameEnd + 2;
        found.push_back(m);
    } else if (level == 1) {
        // After the CRC: the system's letter, then the size of each
        // extended header in turn, each counted in the packed length.
        size_t at = nameEnd + 5;
        if (bytes.size() < at) return {};
        for (size_t next = Le16(h + at - 2); next != 0; next = Le16(h + at - 2)) {
            if (next < 3 || next > bytes.size() - at || next > m.PackedLength) return {};
            at += next;
            m.PackedLength -= next;
        }
        m.DataStart = at;
        found.push_back(m);
    }
    return found;
}

// Up to `wanted` of the member's unpacked bytes (fewer where its data runs out).
std::vector<uint8_t> Decode(std::span<const uint8_t> bytes, const Member& m, size_t wanted) {
    char method[sizeof m.Method];
    std::memcpy(method, m.Method, sizeof method);
    LHADecoderType* type = lha_decoder_for_name(method);
    if (!type || m.DataStart > bytes.size()) return {};
    MemoryInput input{
        bytes.subspan(m.DataStart, std::min(m.PackedLength, bytes.size() - m.DataStart))};
    std::unique_ptr<LHADecoder, DecoderDeleter> decoder(
        lha_decoder_new(type, DecoderInput, &input, m.Length));
    if (!decoder) return {};
    std::vector<uint8_t> out(std::min(wanted, m.Length));
    size_t done = 0;
    while (done < out.size()) {
        const size_t n = lha_decoder_read(decoder.get(), out.data() + done, out.size() - done);
        if (n == 0) break;
        done += n;
    }
    out.resize(done);
    return out;
}

} // namespace

namespace {

// Every reading of the archive's first file: liblhasa's, then the lenient
// ones that differ from it.
std::vector<Member> Members(std::span<const uint8_t> bytes) {
    std::vector<Member> members;
    if (std::optional<Member> checked = CheckedMember(bytes)) members.push_back(*checked);
    for (const Member& m : LenientMembers(bytes))
        if (members.empty() || m.DataStart != members.front().DataStart) members.push_back(m);
    return members;
}

} // namespace

std::optional<std::vector<uint8_t>> UnpackLhaArchive(std::span<const uint8_t> bytes, size_t limit,
                                                     std::string& refusal) {
    const std::vector<Member> members = Members(bytes);
    if (!members.empty() && members.front().Length > limit) {
        refusal = "Packed file too large";
        return std::nullopt;
    }
    for (const Member& m : members) {
        std::vector<uint8_t> out = Decode(bytes, m, m.Length);
        if (out.size() == m.Length && Crc16(out) == m.Crc) return out;
    }
    refusal = "Damaged LHA archive";
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> UnpackLhaArchiveStart(std::span<const uint8_t> bytes,
                                                          size_t limit, size_t wanted,
                                                          size_t& length, std::string& refusal) {
    const std::optional<Member> checked = CheckedMember(bytes);
    if (!checked) {
        // Only a whole file's CRC tells which lenient reading is right.
        std::optional<std::vector<uint8_t>> whole = UnpackLhaArchive(bytes, limit, refusal);
        if (whole) {
            length = whole->size();
            whole->resize(std::min(wanted, whole->size()));
        }
        return whole;
    }
    if (checked->Length > limit) {
        refusal = "Packed file too large";
        return std::nullopt;
    }
    const Member& m = *checked;
    std::vector<uint8_t> out = Decode(bytes, m, wanted);
    if (out.size() < std::min(wanted, m.Length) ||
        (out.size() == m.Length && Crc16(out) != m.Crc)) {
        refusal = "Damaged LHA archive";
        return std::nullopt;
    }
    length = m.Length;
    return out;
}

std::optional<std::vector<uint8_t>> UnpackLh5(std::span<const uint8_t> bytes, size_t length,
                                              std::string& refusal) {
    // lh5 packs register streams about 10 to 50 times; a length far beyond
    // what the packed bytes could hold is a damaged header, and decoding it
    // would spin through megabytes of nothing.
    if (length > bytes.size() * 256 + 65536) {
        refusal = "Damaged packed stream";
        return std::nullopt;
    }
    Member m;
    std::memcpy(m.Method, "-lh5-", sizeof m.Method);
    m.PackedLength = bytes.size();
    m.Length = length;
    std::vector<uint8_t> out = Decode(bytes, m, length);
    if (out.size() != length) {
        refusal = "Damaged packed stream";
        return std::nullopt;
    }
    return out;
}
