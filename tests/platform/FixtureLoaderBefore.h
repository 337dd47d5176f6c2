// The fixture loader as it was before its own document: kept only to compare the two.
#pragma once

#include <string>

#include "platform/sim/FixtureLoader.h"

namespace ks::before {

CMachineModel LoadMachineText(const std::string& json, const std::string& sourceName);
CMachineModel LoadMachineFile(const std::string& path);

}  // namespace ks::before
