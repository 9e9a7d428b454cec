// Loading libimglib.so with dlopen. The call must come from the program's own code (not from a
// toolkit library) so that the program's run path, $ORIGIN, is searched.
#include "imglib_client/imagelibrary.h"

#include <cstdint>

#include <dlfcn.h>

namespace redim {

namespace {
using ReadFn = std::uint32_t (*)(const char *);
using ZoomFn = std::uint32_t (*)(std::uint32_t, std::int32_t, std::int32_t);
using WriteFn = std::int16_t (*)(std::uint32_t, const char *, std::int16_t);
using FreeFn = void (*)(std::uint32_t);
}  // namespace

DynamicImageLibrary::DynamicImageLibrary(const char *fileName) : fileName_(fileName) {}

DynamicImageLibrary::~DynamicImageLibrary()
{
    if (handle_)
        ::dlclose(handle_);
}

void *DynamicImageLibrary::function(const char *name, void *&cache)
{
    const std::lock_guard lock(mutex_);
    if (cache)
        return cache;
    if (!triedToLoad_) {
        triedToLoad_ = true;
        handle_ = ::dlopen(fileName_, RTLD_NOW | RTLD_LOCAL);
    }
    if (handle_)
        cache = ::dlsym(handle_, name);
    return cache;
}

std::optional<quint32> DynamicImageLibrary::readFileIntoDIB(const QByteArray &path)
{
    if (auto read = reinterpret_cast<ReadFn>(function("ReadFileIntoDIB", read_)))
        return read(path.constData());
    return std::nullopt;
}

std::optional<quint32> DynamicImageLibrary::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    if (auto zoom = reinterpret_cast<ZoomFn>(function("ZoomDIB", zoom_)))
        return zoom(image, scaleX, scaleY);
    return std::nullopt;
}

std::optional<qint16> DynamicImageLibrary::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    if (auto write = reinterpret_cast<WriteFn>(function("WriteDIBToFile", write_)))
        return write(image, path.constData(), option);
    return std::nullopt;
}

bool DynamicImageLibrary::dibFree(quint32 image)
{
    if (auto release = reinterpret_cast<FreeFn>(function("DIBFree", free_))) {
        release(image);
        return true;
    }
    return false;
}

ImageLibrary &imageLibrary()
{
    static DynamicImageLibrary library;
    return library;
}

}  // namespace redim
