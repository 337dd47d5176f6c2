// keyscout-demo FILE: KeyScout itself (the same application object, single-instance guard
// and window) on the simulated machine of a fixture instead of this computer's USB stack:
// for screenshots, and for looking at the window by hand.
#include <cstdio>
#include <memory>

#include "app/KeyScoutApp.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"

namespace {
ks::CKeyScoutApp theApp;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: keyscout-demo FILE\n", stderr);
        return 2;
    }
    std::unique_ptr<ks::CModelPlatform> machine;
    try {
        machine = std::make_unique<ks::CModelPlatform>(ks::LoadMachineFile(argv[1]));
    } catch (const ks::CFixtureError& e) {
        std::fprintf(stderr, "keyscout-demo: %s\n", e.what());
        return 1;
    }
    ks::CPlatformScope scope(*machine);
    return ks::AfxWinMain();
}
