// ICC conversion through LittleCMS, and the plain CMYK conversion used without a profile.
#include "imglib/colour.h"

#include <lcms2.h>

#include <cmath>
#include <string>

namespace imglib {
namespace {

// LittleCMS reports problems through a log handler; the library prints nothing, so every
// conversion runs in a context whose handler drops them.
void ignoreLcmsError(cmsContext, cmsUInt32Number, const char *) {}

// The context is deleted with the library's other statics: the program unloads the library
// with dlclose, and a context kept to the end of the process would then be lost, once per load.
class LcmsContext {
public:
    LcmsContext() : context_(cmsCreateContext(nullptr, nullptr))
    {
        if (context_ != nullptr)
            cmsSetLogErrorHandlerTHR(context_, ignoreLcmsError);
    }
    ~LcmsContext()
    {
        if (context_ != nullptr)
            cmsDeleteContext(context_);
    }
    LcmsContext(const LcmsContext &) = delete;
    LcmsContext &operator=(const LcmsContext &) = delete;
    cmsContext get() const { return context_; }

private:
    cmsContext context_;
};

cmsContext lcmsContext()
{
    static const LcmsContext context;
    return context.get();
}

struct ProfileCloser {
    void operator()(void *p) const { cmsCloseProfile(static_cast<cmsHPROFILE>(p)); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// Whether an RGB profile describes sRGB: named so, and with sRGB's primaries. The name alone is
// not enough: a phone's Display P3 profile is called "Display P3 Gamut with sRGB Transfer".
bool describesSrgb(cmsHPROFILE profile, cmsHPROFILE srgb)
{
    char text[256] = {};
    const cmsUInt32Number n = cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    if (n == 0 || std::string(text).find("sRGB") == std::string::npos)
        return false;
    // Profiles written by different tools adapt sRGB's primaries to D50 with slightly different
    // matrices; a wide-gamut space differs by tenths.
    constexpr double kTolerance = 0.005;
    for (const cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto *ours = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, tag));
        const auto *theirs = static_cast<const cmsCIEXYZ *>(cmsReadTag(srgb, tag));
        if (ours == nullptr || theirs == nullptr || std::abs(ours->X - theirs->X) > kTolerance ||
            std::abs(ours->Y - theirs->Y) > kTolerance || std::abs(ours->Z - theirs->Z) > kTolerance)
            return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<IccTransform> IccTransform::create(const std::uint8_t *data, std::size_t size, DecodedPixels input)
{
    const cmsContext context = lcmsContext();
    if (context == nullptr || data == nullptr || size == 0 || size > 0xFFFFFFFFu)
        return nullptr;
    const Profile source(cmsOpenProfileFromMemTHR(context, data, static_cast<cmsUInt32Number>(size)));
    if (!source)
        return nullptr;
    const auto profile = static_cast<cmsHPROFILE>(source.get());
    const Profile srgb(cmsCreate_sRGBProfileTHR(context));
    if (!srgb)
        return nullptr;

    // LittleCMS returns the header's fields as they are, in its enum types; a damaged profile
    // holds values that are none of the enumerators, so they are kept as plain numbers.
    cmsUInt32Number format;
    const auto space = static_cast<cmsUInt32Number>(cmsGetColorSpace(profile));
    switch (input) {
    case DecodedPixels::Gray:
        format = TYPE_GRAY_8;
        if (space != cmsSigGrayData)
            return nullptr;
        break;
    case DecodedPixels::Bgr:
        format = TYPE_BGR_8;
        if (space != cmsSigRgbData || describesSrgb(profile, srgb.get()))
            return nullptr;
        break;
    case DecodedPixels::Cmyk:
    case DecodedPixels::InvertedCmyk:
        format = input == DecodedPixels::Cmyk ? TYPE_CMYK_8 : TYPE_CMYK_8_REV;
        if (space != cmsSigCmykData)
            return nullptr;
        break;
    default: return nullptr;
    }
    const auto kind = static_cast<cmsUInt32Number>(cmsGetDeviceClass(profile));
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass)
        return nullptr;

    // Perceptual suits CMYK tables made for photos; matrix-shaper RGB profiles have no
    // perceptual table and LittleCMS falls back to relative colorimetric for them.
    cmsHTRANSFORM transform =
        cmsCreateTransformTHR(context, profile, format, srgb.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    if (transform == nullptr)
        return nullptr;
    return std::unique_ptr<IccTransform>(new IccTransform(transform));
}

IccTransform::~IccTransform()
{
    cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void IccTransform::apply(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels) const
{
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), in, out, static_cast<cmsUInt32Number>(pixels));
}

namespace {
// a * b / 255, rounded, for a and b in 0..255.
inline std::uint8_t mul255(unsigned a, unsigned b)
{
    const unsigned t = a * b + 128;
    return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}
}  // namespace

void cmykToBgr(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels, bool inverted)
{
    // Inverted files store the paper left (255 - ink) directly.
    const unsigned flip = inverted ? 0 : 255;
    for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 3) {
        const unsigned k = in[3] ^ flip;
        out[0] = mul255(in[2] ^ flip, k);  // blue: paper left by yellow
        out[1] = mul255(in[1] ^ flip, k);  // green: by magenta
        out[2] = mul255(in[0] ^ flip, k);  // red: by cyan
    }
}

}  // namespace imglib
