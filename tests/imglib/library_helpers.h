// Helpers for the image library's tests: handles that release themselves, and the pixels of
// an image seen through the bitmap the library writes.
#pragma once

#include "imglib/imglib.h"
#include "tests/support/testimages.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace imglibtest {

// A handle released when the test is done with it.
class Handle {
public:
    explicit Handle(std::uint32_t h = 0) : h_(h) {}
    ~Handle() { DIBFree(h_); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    std::uint32_t get() const { return h_; }
    explicit operator bool() const { return h_ != 0; }
    // For ZoomDIB, which releases the image it is given on success.
    void reset(std::uint32_t h) { h_ = h; }

private:
    std::uint32_t h_;
};

// The image behind `handle`, written by the library to a bitmap in `dir` and parsed back.
inline std::optional<testimages::Bitmap> pixelsOf(std::uint32_t handle, const testimages::TempDir &dir,
                                                  std::string *why = nullptr)
{
    const std::filesystem::path path = dir / "pixels.bmp";
    if (WriteDIBToFile(handle, path.c_str(), 0) == 0) {
        if (why)
            *why = "WriteDIBToFile failed";
        return std::nullopt;
    }
    auto bmp = testimages::parseBmp24(testimages::readFile(path), why);
    std::filesystem::remove(path);
    return bmp;
}

// Reads a JPEG file through the library and returns its pixels, or nothing if reading failed.
inline std::optional<testimages::Bitmap> decode(const std::filesystem::path &jpeg, const testimages::TempDir &dir)
{
    Handle h(ReadFileIntoDIB(jpeg.c_str()));
    if (!h)
        return std::nullopt;
    return pixelsOf(h.get(), dir);
}

// Largest difference of any channel between a bitmap pixel (B, G, R) and an RGB colour.
inline int colourDistance(const std::uint8_t *bgr, const std::uint8_t *rgb)
{
    int d = 0;
    for (int c = 0; c < 3; ++c)
        d = std::max(d, std::abs(bgr[2 - c] - rgb[c]));
    return d;
}

}  // namespace imglibtest
