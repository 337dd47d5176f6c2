// Where the fixtures of tests/data are: CTest passes the folder in KS_TEST_DATA.
#pragma once

#include <string>

namespace ks::test {

std::string DataPath(const std::string& name);

}  // namespace ks::test
