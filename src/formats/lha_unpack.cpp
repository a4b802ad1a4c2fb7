// Unpacking the LHA-packed register streams with Debian's liblhasa: YM files
// are LHA archives of one file (usually "-lh5-"), VTX files carry a raw
// "-lh5-" stream after their header. The packed bytes are already in memory;
// liblhasa reads them through callbacks. What comes out is capped, so a small
// hostile file cannot claim gigabytes.
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

struct StreamDeleter {
    void operator()(LHAInputStream* s) const { lha_input_stream_free(s); }
};
struct ReaderDeleter {
    void operator()(LHAReader* r) const { lha_reader_free(r); }
};
struct DecoderDeleter {
    void operator()(LHADecoder* d) const { lha_decoder_free(d); }
};

} // namespace

std::optional<std::vector<uint8_t>> UnpackLhaArchive(std::span<const uint8_t> bytes, size_t limit,
                                                     std::string& refusal) {
    MemoryInput input{bytes};
    std::unique_ptr<LHAInputStream, StreamDeleter> stream(
        lha_input_stream_new(&MemoryInputType, &input));
    if (!stream) {
        refusal = "Out of memory";
        return std::nullopt;
    }
    std::unique_ptr<LHAReader, ReaderDeleter> reader(lha_reader_new(stream.get()));
    if (!reader) {
        refusal = "Out of memory";
        return std::nullopt;
    }
    const LHAFileHeader* header = lha_reader_next_file(reader.get());
    if (!header) {
        refusal = "Damaged LHA archive";
        return std::nullopt;
    }
    if (header->length > limit) {
        refusal = "Packed file too large";
        return std::nullopt;
    }
    std::vector<uint8_t> out(header->length);
    size_t done = 0;
    while (done < out.size()) {
        const size_t n = lha_reader_read(reader.get(), out.data() + done, out.size() - done);
        if (n == 0) break;
        done += n;
    }
    if (done != out.size() || Crc16(out) != header->crc) {
        refusal = "Damaged LHA archive";
        return std::nullopt;
    }
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
    char method[] = "-lh5-";
    LHADecoderType* type = lha_decoder_for_name(method);
    MemoryInput input{bytes};
    std::unique_ptr<LHADecoder, DecoderDeleter> decoder(
        type ? lha_decoder_new(type, DecoderInput, &input, length) : nullptr);
    if (!decoder) {
        refusal = "Out of memory";
        return std::nullopt;
    }
    std::vector<uint8_t> out(length);
    size_t done = 0;
    while (done < out.size()) {
        const size_t n = lha_decoder_read(decoder.get(), out.data() + done, out.size() - done);
        if (n == 0) break;
        done += n;
    }
    if (done != out.size()) {
        refusal = "Damaged packed stream";
        return std::nullopt;
    }
    return out;
}
