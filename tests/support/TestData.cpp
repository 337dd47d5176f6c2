#include "tests/support/TestData.h"

#include <cstdlib>

namespace ks::test {

std::string DataPath(const std::string& name) {
    const char* dir = std::getenv("KS_TEST_DATA");
    std::string base = dir != nullptr ? dir : "tests/data";
    return base + "/" + name;
}

}  // namespace ks::test
