// The floor of Phase 1 for the benchmark: libjpeg-turbo decoding every photo of a folder and
// nothing else, in one process, on a thread per usable core, each thread decoding the next photo
// into a buffer it keeps. Usage: redim_decode_floor PHOTO_FOLDER EIGHTHS (8: full size, 1: an
// eighth). Prints the number of photos decoded; exits non-zero when one fails.
#include "budget/cores.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::filesystem::path> photosIn(const std::filesystem::path &folder)
{
    std::vector<std::filesystem::path> photos;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".jpg")
            photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    return photos;
}

// Decodes photos until none is left; false when one fails.
bool decodeShare(const std::vector<std::filesystem::path> &photos, std::atomic<std::size_t> &next, int eighths)
{
    tjhandle decoder = tjInitDecompress();
    std::vector<unsigned char> file, pixels;
    bool ok = decoder != nullptr;
    for (std::size_t i = next++; ok && i < photos.size(); i = next++) {
        std::ifstream in(photos[i], std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), {});
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        ok = tjDecompressHeader3(decoder, file.data(), file.size(), &width, &height, &subsampling, &colourspace) == 0;
        const tjscalingfactor scale{eighths, 8};
        width = TJSCALED(width, scale);
        height = TJSCALED(height, scale);
        pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
        ok = ok && tjDecompress2(decoder, file.data(), file.size(), pixels.data(), width, 0, height, TJPF_BGR,
                                 TJFLAG_NOREALLOC) == 0;
    }
    if (decoder != nullptr)
        tjDestroy(decoder);
    return ok;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: redim_decode_floor PHOTO_FOLDER EIGHTHS\n");
        return 2;
    }
    const std::vector<std::filesystem::path> photos = photosIn(argv[1]);
    const int eighths = std::stoi(argv[2]);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> ok{true};
    std::vector<std::thread> threads;
    for (int i = 1; i < budget::usableCores(); ++i)
        threads.emplace_back([&] { ok = decodeShare(photos, next, eighths) && ok; });
    ok = decodeShare(photos, next, eighths) && ok;
    for (std::thread &thread : threads)
        thread.join();
    std::printf("%zu\n", photos.size());
    return ok ? 0 : 1;
}
