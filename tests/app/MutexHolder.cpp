// Holds a named mutex for the driver script, as another program might:
//   keyscout-mutexholder NAME DIR
// creates the mutex NAME owned, writes DIR/ready ("owned" or "not-owned" inside), and
// holds it until DIR/release exists (at most 60 s).
#include <cstdio>
#include <string>

#include "framework/Kernel.h"

int main(int argc, char** argv) {
    using namespace ks;
    if (argc < 3)
        return 2;
    const std::string dir = argv[2];
    BOOL existed = FALSE;
    HANDLE mutex = CreateMutexObject(TRUE, argv[1], &existed);
    if (mutex == nullptr)
        return 1;
    // Written aside and renamed, so that the script, which waits for the file to exist,
    // never reads it empty.
    if (FILE* f = std::fopen((dir + "/ready.part").c_str(), "wb")) {
        std::fputs(existed ? "not-owned" : "owned", f);
        std::fclose(f);
        std::rename((dir + "/ready.part").c_str(), (dir + "/ready").c_str());
    }
    const std::string release = dir + "/release";
    for (int waited = 0; waited < 60000; waited += 10) {
        if (FILE* f = std::fopen(release.c_str(), "rb")) {
            std::fclose(f);
            break;
        }
        Sleep(10);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
