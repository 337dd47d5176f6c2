// Bounded, non-following reads of the kernel's sysfs and proc files, below a root folder
// ("" for the machine's own "/"; a test points it at a tree it has built).
//
// sysfs is a moving target: a device may disappear between two reads, a file may be
// unreadable for this user, and a folder is full of symbolic links that lead back up the
// tree (subsystem, driver, port, device). So every read is one attempt that either yields
// the value or nothing: files are opened without following a final symbolic link, without
// blocking (a FIFO or device node in the wrong place never stalls the scan) and only when
// they are regular files, and at most kMaxAttributeBytes are taken. Folders are listed
// without following links; a link is read (readlink) once and never walked through.
//
// Stateless apart from the root; any thread may use its own reader or share one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ks {

class CSysfsReader {
  public:
    // sysfs attributes are at most one page; the raw "descriptors" file of a USB device
    // can be longer (all its configuration descriptors), but never beyond 64 KiB of
    // wTotalLength per configuration. This bound covers a few of those.
    static constexpr std::size_t kMaxAttributeBytes = 256 * 1024;
    // A folder with more entries than this is read no further (sysfs folders hold tens).
    static constexpr std::size_t kMaxFolderEntries = 16384;

    enum class EKind { File, Folder, Link, Other };
    struct CEntry {
        std::string m_strName;
        EKind m_kind = EKind::Other;
    };

    explicit CSysfsReader(std::string root = std::string()) : m_strRoot(std::move(root)) {}

    const std::string& Root() const { return m_strRoot; }

    // The bytes of a file (an absolute path such as "/sys/devices/.../descriptors"), at
    // most `limit` of them; none when it is missing, not a regular file or unreadable.
    std::optional<std::string> ReadFile(std::string_view path,
                                        std::size_t limit = kMaxAttributeBytes) const;
    // A text attribute: the file's bytes without one trailing newline (sysfs ends most
    // values with one, but not all drivers and not every test bed do).
    std::optional<std::string> ReadText(std::string_view folder, std::string_view name) const;
    // The target of a symbolic link, as written in the link; none when it is no link.
    std::optional<std::string> ReadLink(std::string_view path) const;
    // The last component of a link's target ("usb" for subsystem -> ../../bus/usb).
    std::optional<std::string> LinkName(std::string_view folder, std::string_view name) const;
    // The entries of a folder, sorted by name, without "." and "..".
    std::vector<CEntry> ListFolder(std::string_view path) const;
    bool IsFile(std::string_view path) const;

  private:
    std::string Real(std::string_view path) const;

    std::string m_strRoot;
};

// "/a/b/../c" -> "/a/c": a link's target joined to the folder that holds the link, without
// touching the file system (no further link is followed).
std::string JoinLinkTarget(std::string_view folderOfLink, std::string_view target);
// The last component of a path.
std::string_view BaseName(std::string_view path);
// The path without its last component.
std::string_view ParentPath(std::string_view path);

}  // namespace ks
