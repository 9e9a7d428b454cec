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

// The function `name` of the library, loaded at the first call of any; null when either cannot
// be loaded.
template <typename Function>
Function DynamicImageLibrary::function(const char *name, std::atomic<void *> &cache)
{
    void *found = cache.load(std::memory_order_acquire);
    if (!found) {
        std::call_once(loading_, [this] { handle_ = ::dlopen(fileName_, RTLD_NOW | RTLD_LOCAL); });
        found = handle_ ? ::dlsym(handle_, name) : nullptr;
        cache.store(found, std::memory_order_release);
    }
    return reinterpret_cast<Function>(found);
}

quint32 DynamicImageLibrary::readFileIntoDIB(const QByteArray &path)
{
    const auto read = function<ReadFn>("ReadFileIntoDIB", read_);
    return read ? read(path.constData()) : 0;
}

quint32 DynamicImageLibrary::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    const auto zoom = function<ZoomFn>("ZoomDIB", zoom_);
    return zoom ? zoom(image, scaleX, scaleY) : 0;
}

qint16 DynamicImageLibrary::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    const auto write = function<WriteFn>("WriteDIBToFile", write_);
    return write ? write(image, path.constData(), option) : 0;
}

void DynamicImageLibrary::dibFree(quint32 image)
{
    if (const auto release = function<FreeFn>("DIBFree", free_))
        release(image);
}

ImageLibrary &imageLibrary()
{
    static DynamicImageLibrary library;
    return library;
}

}  // namespace redim
