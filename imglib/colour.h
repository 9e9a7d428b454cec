// Colour conversions from what the JPEG decoder gives to the sRGB BGR pixels of an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imglib {

// How the decoder hands over a row of pixels.
enum class DecodedPixels {
    Gray,          // 1 byte per pixel
    Bgr,           // 3 bytes per pixel, blue first
    Cmyk,          // 4 bytes, 255 = full ink
    InvertedCmyk,  // 4 bytes, 0 = full ink (Adobe's files)
};

constexpr int bytesPerPixel(DecodedPixels p)
{
    switch (p) {
    case DecodedPixels::Gray: return 1;
    case DecodedPixels::Bgr: return 3;
    default: return 4;
    }
}

// A conversion through an embedded ICC profile to sRGB.
class IccTransform {
public:
    // A transform from the profile's colours to sRGB BGR, or null when the profile cannot be
    // parsed, does not describe `input`, or is sRGB already (then the pixels need nothing).
    static std::unique_ptr<IccTransform> create(const std::uint8_t *profile, std::size_t size, DecodedPixels input);
    ~IccTransform();
    IccTransform(const IccTransform &) = delete;
    IccTransform &operator=(const IccTransform &) = delete;

    // Converts `pixels` pixels from `in` to BGR in `out`; the buffers must not overlap.
    void apply(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels) const;

private:
    explicit IccTransform(void *transform) : transform_(transform) {}
    void *transform_;  // cmsHTRANSFORM, kept opaque so lcms2.h stays out of this header
};

// Converts CMYK without a profile, the way a naive printer model does: each of R, G, B is the
// product of the paper left by its complementary ink and by black.
void cmykToBgr(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels, bool inverted);

}  // namespace imglib
