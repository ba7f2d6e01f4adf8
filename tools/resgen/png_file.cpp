#include "png_file.h"

#include <zlib.h>

#include <stdexcept>
#include <string>

namespace resgen {
namespace {

void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32Be(out, static_cast<uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    // The CRC covers the chunk type and its data, not the length.
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    Put32Be(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> EncodePng(const Image& image) {
    std::vector<uint8_t> header;
    Put32Be(header, static_cast<uint32_t>(image.width));
    Put32Be(header, static_cast<uint32_t>(image.height));
    header.push_back(8);  // bits per channel
    header.push_back(6);  // RGBA
    header.push_back(0);  // deflate
    header.push_back(0);  // adaptive filtering
    header.push_back(0);  // not interlaced

    // Each row is filtered with "Sub", which suits the flat areas of our drawings.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(image.height) * (1 + image.width * 4));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(1);
        for (int x = 0; x < image.width; ++x) {
            const Rgba& p = image.At(x, y);
            const Rgba left = x > 0 ? image.At(x - 1, y) : Rgba{0, 0, 0, 0};
            raw.push_back(static_cast<uint8_t>(p.r - left.r));
            raw.push_back(static_cast<uint8_t>(p.g - left.g));
            raw.push_back(static_cast<uint8_t>(p.b - left.b));
            raw.push_back(static_cast<uint8_t>(p.a - left.a));
        }
    }

    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) !=
        Z_OK) {
        throw std::runtime_error("zlib could not compress the image");
    }
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

}  // namespace resgen
