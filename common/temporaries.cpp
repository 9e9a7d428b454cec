// Temporary names: ".<program>-<pid>-" followed by the writer's own part.
#include "common/temporaries.h"

#include <charconv>

namespace common {

namespace {

constexpr std::string_view kWriterNames[] = {"redim", "imglib", "convertimg"};

}  // namespace

std::string temporaryPrefix(Writer writer, pid_t pid)
{
    return "." + std::string(kWriterNames[static_cast<int>(writer)]) + "-" + std::to_string(pid) + "-";
}

std::optional<pid_t> temporaryWriter(std::string_view name)
{
    for (const std::string_view writer : kWriterNames) {
        if (name.size() <= writer.size() + 2 || name[0] != '.' || name.substr(1, writer.size()) != writer ||
            name[writer.size() + 1] != '-')
            continue;
        const std::string_view rest = name.substr(writer.size() + 2);
        pid_t pid = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (error == std::errc() && end != rest.data() && end < rest.data() + rest.size() && *end == '-' && pid > 0)
            return pid;
    }
    return std::nullopt;
}

bool isProgramFile(std::string_view name)
{
    return temporaryWriter(name) || name == kLockName || name == kSocketName;
}

}  // namespace common
