// Writing a result whole, as Qt's QSaveFile does: its bytes go into a temporary beside the
// destination, which is renamed onto it once complete. No reader ever sees half a file, and on
// any failure the temporary goes and the destination stays as it was. Every file the programs
// write this way takes the permissions any file a user's program makes takes: 0666 less the
// umask (or what a default ACL of the folder gives instead).
#pragma once

#include "common/temporaries.h"
#include "common/unique_fd.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <string>

#include <sys/uio.h>

namespace common {

// The temporaries a process has on disk, so that it can remove them when a signal ends it. A
// writer creates its temporary and records it in one step, under a lock that the removal takes
// and keeps: every temporary on disk is recorded when the removal looks, and none is created after.
class TemporaryRecord {
public:
    // Removes every temporary recorded, and keeps the lock: for a thread that ends the process next.
    void removeAllForGood();

private:
    friend class WholeFile;
    std::mutex lock_;
    std::multiset<std::string> paths_;
};

// Whether a file that already bears the destination's name is replaced.
enum class Replace { No, Yes };

// What became of a finished file.
enum class Published {
    Done,         // the destination is the new file
    Kept,         // Replace::No, and a file of that name was there: it stays
    CannotWrite,  // closing the temporary failed: what was written did not all reach the disk
    CannotPlace,  // the rename failed
};

// Moves the finished file `from` onto `to` in one step (both in one folder, or at least on one
// file system). With Replace::No an existing `to` is kept (Kept), even one that comes at the last
// moment. On failure errno says why and `from` stays.
Published moveIntoPlace(const char *from, const char *to, Replace replace);

// One file being written whole. The temporary is named by temporaryPrefix(writer, pid), so that
// a later start removes it if this process is killed, then by the destination's name.
class WholeFile {
public:
    // Creates the temporary beside `destination`; when `record` is given, it is recorded there
    // as it is created. Test the object: false, with errno set, when it could not be created
    // (a `destination` that names no file, ending in "/", is refused with EISDIR).
    WholeFile(const std::string &destination, Writer writer, TemporaryRecord *record = nullptr);
    // Removes the temporary unless it was published.
    ~WholeFile();
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    explicit operator bool() const { return static_cast<bool>(fd_); }

    // The open temporary, for what the writer does itself (its times).
    int fd() const { return fd_.get(); }

    // Writes all of `bytes`, or all the bytes `vectors` describe, in as many calls as the system
    // needs: a file can be written in pieces of any size. False, with errno set, on failure.
    // The vectors are consumed.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::span<iovec> vectors);

    // Closes the temporary and moves it onto the destination (moveIntoPlace). Unless Done, the
    // temporary is removed when the object goes; errno says why.
    Published publish(Replace replace);

private:
    // Creates the temporary `path_`, recorded first when there is a record; false, with errno
    // set, when it cannot.
    bool create();
    void forget();

    std::string destination_;
    std::string path_;  // the temporary's, empty when there is none on disk
    unique_fd fd_;
    TemporaryRecord *record_;
};

}  // namespace common
