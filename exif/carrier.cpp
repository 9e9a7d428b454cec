// Writing and finding the EXIF block at the end of a bitmap.
#include "carrier.h"

#include "exif.h"

#include <algorithm>

namespace exif {

static_assert(kMaxPayload < std::uint64_t{1} << (8 * kCarrierLengthBytes), "the length field must hold any payload");

std::array<std::uint8_t, kCarrierTrailerBytes> carrierTrailer(std::size_t size)
{
    std::array<std::uint8_t, kCarrierTrailerBytes> trailer{};
    for (std::size_t i = 0; i < kCarrierLengthBytes; ++i)
        trailer[i] = static_cast<std::uint8_t>(size >> (8 * i));
    std::copy(kCarrierSignature.begin(), kCarrierSignature.end(), trailer.begin() + kCarrierLengthBytes);
    return trailer;
}

std::span<const std::uint8_t> carriedPayload(std::span<const std::uint8_t> file, std::uint64_t dataEnd)
{
    if (file.size() < kCarrierTrailerBytes)
        return {};
    const auto trailer = file.last(kCarrierTrailerBytes);
    if (!std::equal(kCarrierSignature.begin(), kCarrierSignature.end(), trailer.begin() + kCarrierLengthBytes))
        return {};
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < kCarrierLengthBytes; ++i)
        size |= std::uint64_t{trailer[i]} << (8 * i);
    const std::uint64_t blockEnd = file.size() - kCarrierTrailerBytes;
    if (size > kMaxPayload || size > blockEnd || blockEnd - size < dataEnd)
        return {};
    return file.subspan(static_cast<std::size_t>(blockEnd - size), static_cast<std::size_t>(size));
}

}  // namespace exif
