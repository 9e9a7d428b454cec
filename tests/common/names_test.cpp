// The names the desktop program and the converter must agree on.
#include "common/names.h"
#include "common/temporaries.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(Names, TheJpegIsNamedAfterItsBitmap)
{
    const std::pair<const char *, const char *> cases[] = {
        {"photo.bmp", "photo.jpg"}, {"PHOTO.BMP", "PHOTO.jpg"}, {"a.b.bmp", "a.b.jpg"},
        {"noext", "noext.jpg"},     {".bmp", ".bmp.jpg"},       {"été 2026.bmp", "été 2026.jpg"},
    };
    for (const auto &[bitmap, jpeg] : cases)
        EXPECT_EQ(common::jpegNameFor(bitmap), jpeg) << bitmap;
}

TEST(Names, TemporariesSayWhichProcessWritesThem)
{
    EXPECT_EQ(common::temporaryPrefix(common::Writer::Convertimg, 42), ".convertimg-42-");
    const std::pair<const char *, std::optional<pid_t>> cases[] = {
        {".imglib-1234-0-00ab.tmp", 1234}, {".convertimg-7-p.jpg.Ab12Cd", 7}, {".redim-99-a.bmp.x", 99},
        {".imglib-1234", std::nullopt},    {".imglib--1-x", std::nullopt},    {"imglib-12-x", std::nullopt},
        {".gimp-12-x", std::nullopt},      {".redim.lock", std::nullopt},
    };
    for (const auto &[name, writer] : cases)
        EXPECT_EQ(common::temporaryWriter(name), writer) << name;
}

}  // namespace
