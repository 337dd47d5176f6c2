// The fixture loader as it was when it read the JSON library's own document, kept only as
// the oracle that FixtureLoaderCompareTest holds the loader against (nothing else links
// it): a change to what fixtures may say is made in both, or ends the comparison.
#pragma once

#include <string>

#include "platform/sim/FixtureLoader.h"

namespace ks::before {

CMachineModel LoadMachineText(const std::string& json, const std::string& sourceName);
CMachineModel LoadMachineFile(const std::string& path);

}  // namespace ks::before
