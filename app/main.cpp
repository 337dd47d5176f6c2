// KeyScout's entry: the one application object, and the framework's entry that runs it. The
// program takes no command line; on Windows it is a GUI-subsystem program.
#include "app/KeyScoutApp.h"

namespace {
ks::CKeyScoutApp theApp;
}

int main() {
    return ks::AfxWinMain();
}
