// Writes a CMachineModel as a machine fixture (the format of tests/data/README.md), so that
// LoadMachineText reads it back into a machine that CModelPlatform answers the same way.
//
// Every field and fault of the model is written; values equal to the loader's defaults are
// left out, numbers that name ids, versions and status bits are written as "0x..." strings.
// The text always loads. Where a model holds something the format cannot say as it stands,
// the writer says the nearest thing that the model platform answers alike:
//  - a second hub, node, HCD number or drive letter of a name already used is left out (the
//    model finds the first one), as are ports beyond a hub's port count, a second entry for
//    one port or one string descriptor, and relations after an empty instance ID;
//  - a controller reachable by neither an HCD name nor an interface path is left out; one
//    whose root hub is already written elsewhere gets a copy of that hub under a new name;
//    nodes that the tree does not reach are left out, and so is an instance ID (of a
//    controller or volume) that names no node written;
//  - a node with an empty instance ID or one used before, an interface path used before and
//    a volume without a name get stand-ins (a volume's then answers as a call that writes
//    nothing, as an empty name does);
//  - a multi-string ends at its first empty string, as the program reads it, and a text
//    property of a registry type other than a multi-string is written as REG_SZ;
//  - a string descriptor 0 given as text, a text with unpaired surrogates, and a device
//    without a language list whose strings would make the loader derive one, are written as
//    raw descriptors; texts and raw bytes are cut where the model would cut them;
//  - a speed beyond the four named ones is written as "super".
//
// Stateless; any thread may call it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/MachineModel.h"

namespace ks {

// The name the program reads from a name reply of the model (a root hub name, text at
// offset 4; a hub on a port, offset 8): as much as the reply delivers, which a fault's
// ActualLength or byte count may cut, up to its first NUL. It is the name a hub is opened by.
// An ActualLength no larger than the probe (the header and one letter) asks for nothing
// more: the program reads no name from it at all.
std::u16string_view VisibleName(std::u16string_view name, const CRequestFault& fault,
                                std::size_t textOffset);

// The fixture text, UTF-8, ending in a newline. Each of `comments` becomes one "//" line at
// the top (line breaks inside one are replaced by spaces).
std::string WriteMachineFixture(const CMachineModel& model,
                                const std::vector<std::string>& comments = {});

}  // namespace ks
