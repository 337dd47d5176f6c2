// Where the fixtures of tests/data are: CTest passes the folder in KS_TEST_DATA.
#pragma once

#include <string>

namespace ks::test {

// The exit status of a test program whose cases did not all run, though none failed: CTest
// reports it as skipped (SKIP_RETURN_CODE), and the test command fails on it.
inline constexpr int kSkippedStatus = 77;

std::string DataPath(const std::string& name);

}  // namespace ks::test
