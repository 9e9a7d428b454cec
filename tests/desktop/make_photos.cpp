// Writes real JPEG photos for the desktop session, tagged as a camera tags them (a date taken,
// a GPS position, a thumbnail): make_photos <folder> <name>...
#include "tests/support/testimages.h"

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    try {
        testimages::JpegOptions tagged;
        tagged.exifPayload = testimages::taggedExif(1, false, 1200, 900).payload;
        for (int i = 2; i < argc; ++i)
            testimages::writeJpeg(std::string(argv[1]) + "/" + argv[i], testimages::quadrants(1200, 900), tagged);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_photos: %s\n", e.what());
        return 1;
    }
    return 0;
}
