// Loads a CMachineModel from a JSON fixture (the format is described in tests/data/README.md).
//
// The loader is strict: an unknown key, a value of the wrong type, a number out of range, a
// port number beyond the hub's port count, a letter that is no drive letter, or a name that
// is used twice is an error. Errors throw CFixtureError, whose message names the source and
// the place: "line L, column C" for JSON syntax errors, the JSON pointer of the offending
// value for everything else, e.g.
//   machine.json: /controllers/0/rootHub/ports/3/device/idVendor: expected an integer 0..65535
//
// A fixture nests at most kMaxFixtureNesting levels of JSON objects and arrays (the root
// object is level 1); deeper text is refused where it goes too deep, before it is read any
// further ("machine.json: /deviceTree/children/0/...: nested deeper than 192 levels of
// objects and arrays"). The capture writer nests about 135 levels at most: 32 hubs one
// below the other (as deep as the walk follows), or a device tree 48 nodes deep.
//
// Stateless; any thread may call these.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "platform/model/MachineModel.h"

namespace ks {

inline constexpr std::size_t kMaxFixtureNesting = 192;
// The longest fixture text, in bytes: the document keeps every length and count in 32 bits.
// (A machine of 1000 devices is 11 MB.)
inline constexpr std::size_t kMaxFixtureSize = 0xFFFFFFFFu;

class CFixtureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads and loads the file; a file that cannot be read is a CFixtureError naming it. The
// source name in messages is the path as given.
CMachineModel LoadMachineFile(const std::string& path);

// Loads fixture text; `sourceName` stands for it in messages.
CMachineModel LoadMachineText(const std::string& json, const std::string& sourceName);

}  // namespace ks
