// The names of the files the three programs write before renaming them into place: hidden,
// never ending in an extension the programs list, and saying which process writes them, so
// that a later start can remove those of a program that was killed, and only those.
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

}  // namespace common
