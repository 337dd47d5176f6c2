// keyscout-handles CAPTION: prints the count of open handles of the process that owns the
// top-level window titled CAPTION (ASCII), from the system's table of every process's
// handles (NtQuerySystemInformation, SystemHandleInformation). Kernel objects that hold no
// file descriptor of the process (an event, a mutex, a device information set) show here
// and nowhere else; Wine answers GetProcessHandleCount with 0, but keeps that table. Exits 1
// when there is no such window or the system does not answer. A measuring tool of the soak,
// outside the program: it asks the system itself, not the program's framework.
#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

// The table's rows, as the system writes them.
struct SystemHandleEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectTypeIndex;
    UCHAR handleAttributes;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr SYSTEM_INFORMATION_CLASS kSystemHandleInformation =
    static_cast<SYSTEM_INFORMATION_CLASS>(16);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr std::size_t kMaxTable = 64u << 20;  // bytes

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: keyscout-handles CAPTION\n", stderr);
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[1]);
    DWORD processId = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &processId) == 0) {
        std::fprintf(stderr, "keyscout-handles: no window titled %s\n", argv[1]);
        return 1;
    }
    std::vector<char> table(1u << 16);
    NTSTATUS status;
    for (;;) {
        ULONG length = 0;
        status = NtQuerySystemInformation(kSystemHandleInformation, table.data(),
                                          static_cast<ULONG>(table.size()), &length);
        if (status != kInfoLengthMismatch || table.size() >= kMaxTable)
            break;
        table.resize(table.size() * 2);
    }
    if (status != 0) {
        std::fprintf(stderr, "keyscout-handles: the system's handle table is not given (%08lx)\n",
                     static_cast<unsigned long>(status));
        return 1;
    }
    const auto* rows = reinterpret_cast<const SystemHandleTable*>(table.data());
    const std::size_t fit =
        (table.size() - offsetof(SystemHandleTable, entries)) / sizeof(SystemHandleEntry);
    unsigned long count = 0;
    for (ULONG i = 0; i < rows->count && i < fit; ++i)
        count += rows->entries[i].processId == static_cast<USHORT>(processId) ? 1 : 0;
    std::printf("handles %lu\n", count);
    return 0;
}
