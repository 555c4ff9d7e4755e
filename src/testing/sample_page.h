#pragma once
// The sample share pages the resolve tests read, from src/resolve/testdata.
// Header only: the Windows test build has no src/testing library.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace sharelink::testing {

/// The bytes of src/resolve/testdata/NAME; a missing or empty file fails the test.
inline std::string sample_page(const std::string& name) {
  std::ifstream in(std::string(SHARELINK_SOURCE_DIR) + "/src/resolve/testdata/" + name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  EXPECT_FALSE(out.str().empty()) << name;
  return out.str();
}

}  // namespace sharelink::testing
