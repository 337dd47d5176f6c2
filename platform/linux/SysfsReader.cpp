#include "platform/linux/SysfsReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ks {

std::string CSysfsReader::Real(std::string_view path) const {
    std::string real = m_strRoot;
    real.append(path);
    return real;
}

std::optional<std::string> CSysfsReader::ReadFile(std::string_view path, std::size_t limit) const {
    const std::string real = Real(path);
    // O_NOFOLLOW: an attribute is a file, never a link; O_NONBLOCK: opening a FIFO or a
    // device node must not wait for a writer or for hardware.
    const int fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string data;
    // sysfs reports a size of 4096 for every attribute whatever it holds, so the size is
    // only a hint; read until the end or the bound.
    char chunk[4096];
    bool failed = false;
    while (data.size() < limit) {
        const std::size_t want = std::min(sizeof chunk, limit - data.size());
        const ssize_t got = ::read(fd, chunk, want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            failed = true;  // EIO from a device that went away, EACCES, ...
            break;
        }
        if (got == 0)
            break;
        data.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return data;
}

std::optional<std::string> CSysfsReader::ReadText(std::string_view folder,
                                                  std::string_view name) const {
    std::string path(folder);
    path += '/';
    path.append(name);
    // A text attribute holds one page at most.
    std::optional<std::string> text = ReadFile(path, 4096);
    if (text && !text->empty() && text->back() == '\n')
        text->pop_back();
    return text;
}

std::optional<std::string> CSysfsReader::ReadLink(std::string_view path) const {
    const std::string real = Real(path);
    char buffer[4096];
    const ssize_t n = ::readlink(real.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::optional<std::string> CSysfsReader::LinkName(std::string_view folder,
                                                  std::string_view name) const {
    std::string path(folder);
    path += '/';
    path.append(name);
    std::optional<std::string> target = ReadLink(path);
    if (!target)
        return std::nullopt;
    std::string base(BaseName(*target));
    if (base.empty())
        return std::nullopt;
    return base;
}

std::vector<CSysfsReader::CEntry> CSysfsReader::ListFolder(std::string_view path) const {
    std::vector<CEntry> entries;
    const std::string real = Real(path);
    // O_NOFOLLOW here too: a folder reached through a link is not listed.
    const int fd = ::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return entries;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return entries;
    }
    while (entries.size() < kMaxFolderEntries) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (e == nullptr)
            break;
        const std::string_view name(e->d_name);
        if (name == "." || name == "..")
            continue;
        CEntry entry;
        entry.m_strName = std::string(name);
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : DT_UNKNOWN;
        }
        entry.m_kind = type == DT_DIR   ? EKind::Folder
                       : type == DT_LNK ? EKind::Link
                       : type == DT_REG ? EKind::File
                                        : EKind::Other;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const CEntry& a, const CEntry& b) { return a.m_strName < b.m_strName; });
    return entries;
}

bool CSysfsReader::IsFile(std::string_view path) const {
    const std::string real = Real(path);
    struct stat st {};
    return ::lstat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string JoinLinkTarget(std::string_view folderOfLink, std::string_view target) {
    std::vector<std::string_view> parts;
    auto push = [&parts](std::string_view path) {
        std::size_t i = 0;
        while (i <= path.size()) {
            const std::size_t slash = path.find('/', i);
            const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
            const std::string_view part = path.substr(i, end - i);
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            if (slash == std::string_view::npos)
                break;
            i = slash + 1;
        }
    };
    if (target.empty() || target.front() != '/')
        push(folderOfLink);
    push(target);
    std::string out;
    for (std::string_view part : parts) {
        out += '/';
        out.append(part);
    }
    return out.empty() ? std::string("/") : out;
}

std::string_view BaseName(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view ParentPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0)
        return slash == 0 ? std::string_view("/") : std::string_view();
    return path.substr(0, slash);
}

}  // namespace ks
