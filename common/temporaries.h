// The names of the files the three programs keep for themselves: the temporaries they write
// before renaming them into place, never ending in an extension the programs list and saying
// which process writes them, so that a later start can remove those of a program that was killed,
// and only those; and the lock and the socket that keep one program per user.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace common {

// The programs that write temporaries.
enum class Writer { Redim, Imglib, Convertimg };

// The start of every temporary name `writer` gives in process `pid`: ".convertimg-1234-". The
// writer adds what keeps the name its own (the final name, a counter, random letters).
std::string temporaryPrefix(Writer writer, pid_t pid);

// The process that writes the temporary `name` (a name, no folder), or nothing when `name` is
// not a temporary of one of the programs.
std::optional<pid_t> temporaryWriter(std::string_view name);

// The lock and the socket in the program's private folder.
inline constexpr char kLockName[] = ".redim.lock";
inline constexpr char kSocketName[] = ".redim.socket";

// True when `name` (a name, no folder) is one of the programs' own files: a temporary, the lock or
// the socket. Whatever it ends with, such a file is never taken for a photo or a bitmap, where a
// name that merely starts with a dot is a name like any other.
bool isProgramFile(std::string_view name);

}  // namespace common
