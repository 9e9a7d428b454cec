// The program's only way to the image library: loaded by file name at its first use, each
// function looked up by name at its first call.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <mutex>
#include <optional>

namespace redim {

// The four calls the program makes of the image library. Each returns std::nullopt when the
// library or that function cannot be loaded, so that the caller can end its run cleanly.
class ImageLibrary {
public:
    virtual ~ImageLibrary() = default;

    // A new image read from the JPEG file `path`; 0 when it cannot be read.
    virtual std::optional<quint32> readFileIntoDIB(const QByteArray &path) = 0;
    // A new image scaled by `scaleX` and `scaleY` percent; 0 on failure.
    virtual std::optional<quint32> zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) = 0;
    // Writes `image` to the bitmap file `path`; 0 when writing failed.
    virtual std::optional<qint16> writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) = 0;
    // Releases `image`; false when the function cannot be loaded.
    virtual bool dibFree(quint32 image) = 0;
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

    std::optional<quint32> readFileIntoDIB(const QByteArray &path) override;
    std::optional<quint32> zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override;
    std::optional<qint16> writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override;
    bool dibFree(quint32 image) override;

private:
    void *function(const char *name, void *&cache);

    const char *fileName_;
    std::mutex mutex_;  // over the loading and the looking up, which happen once
    void *handle_ = nullptr;
    bool triedToLoad_ = false;
    void *read_ = nullptr;
    void *zoom_ = nullptr;
    void *write_ = nullptr;
    void *free_ = nullptr;
};

// The process-wide loader the main window uses unless a test gives it another library.
ImageLibrary &imageLibrary();

}  // namespace redim
