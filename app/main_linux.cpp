// keyscout, the same program on Linux. A Unix program is asked for its version and its
// usage by the shell: those two are answered, and anything else on its command line is a
// usage error; without arguments it is the program KeyScout.exe is.
#include <cstdio>
#include <cstring>

#include "app/Program.h"
#include "res/Version.h"

namespace {

const char kUsage[] =
    "usage: keyscout [--version | --help]\n"
    "  Shows the USB devices connected now in a window, with the Vendor ID, Product ID and\n"
    "  serial number of the one selected and the device-manager nodes behind it. Without a\n"
    "  display it prints the list instead. keyscout-list is the same list for scripts.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("keyscout " KS_VERSION_TEXT "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc > 1) {
        std::fprintf(stderr, "keyscout: unknown argument '%s'\n%s", argv[1], kUsage);
        return 2;
    }
    return ks::RunProgram();
}
