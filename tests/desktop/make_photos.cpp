// Writes real JPEG photos for the desktop session: make_photos <folder> <name>...
#include "testimages.h"

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    try {
        for (int i = 2; i < argc; ++i)
            testimages::writeJpeg(std::string(argv[1]) + "/" + argv[i], testimages::quadrants(1200, 900));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_photos: %s\n", e.what());
        return 1;
    }
    return 0;
}
