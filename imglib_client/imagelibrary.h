// The program's only way to the image library: loaded by file name at its first use, each
// function looked up by name at its first call.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace redim {

// The four calls the program makes of the image library, with the library's own contract
// (imglib/imglib.h): 0 is failure. A library or a function that cannot be loaded fails the same
// way, so that the caller ends its run as it ends it for a photo that cannot be read.
class ImageLibrary {
public:
    virtual ~ImageLibrary() = default;

    // A new image read from the JPEG file `path`; 0 when it cannot be read.
    virtual quint32 readFileIntoDIB(const QByteArray &path) = 0;
    // A new image scaled by `scaleX` and `scaleY` percent; 0 on failure.
    virtual quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) = 0;
    // Writes `image` to the bitmap file `path`; 0 when writing failed.
    virtual qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) = 0;
    // Releases `image`.
    virtual void dibFree(quint32 image) = 0;
};

// libimglib.so, found by the platform's usual library search (the program's run path puts its
// own folder first). Its functions may be called from several threads at once, as the library's
// may; the library must not be unloaded (this object destroyed) while a call is in progress.
class DynamicImageLibrary final : public ImageLibrary {
public:
    explicit DynamicImageLibrary(const char *fileName = "libimglib.so");
    ~DynamicImageLibrary() override;
    DynamicImageLibrary(const DynamicImageLibrary &) = delete;
    DynamicImageLibrary &operator=(const DynamicImageLibrary &) = delete;

    quint32 readFileIntoDIB(const QByteArray &path) override;
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override;
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override;
    void dibFree(quint32 image) override;

private:
    template <typename Function>
    Function function(const char *name, std::atomic<void *> &cache);

    const char *fileName_;
    std::once_flag loading_;
    void *handle_ = nullptr;  // set once, by the first call
    // Each function as looked up, or null until it is found. Two first calls at once may both
    // look it up: they find the same address.
    std::atomic<void *> read_ = nullptr;
    std::atomic<void *> zoom_ = nullptr;
    std::atomic<void *> write_ = nullptr;
    std::atomic<void *> free_ = nullptr;
};

// The process-wide loader the main window uses unless a test gives it another library.
ImageLibrary &imageLibrary();

}  // namespace redim
