// Tells whether every bitmap named is whole, as the program writes them: check_bitmaps <file>...
// Prints each one that is not, with the reason; exit 1 if any.
#include "tests/support/testimages.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    int broken = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string why;
        if (!testimages::parseBmp24(bytes, &why)) {
            std::printf("%s: %s\n", argv[i], why.c_str());
            ++broken;
        }
    }
    return broken == 0 ? 0 : 1;
}
