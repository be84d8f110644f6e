// The real tape images of other projects, read where they lie (TAPEWREN_TAPES_DIR, beside the
// checkout) and never copied into it. A test that needs them is skipped, saying so, when the
// folder is absent, as in a user's fresh clone.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tapewren::testing {

inline std::string real_tape(const std::string& name) {
  return std::string(TAPEWREN_TAPES_DIR) + "/testtape-" + name + ".tap";
}

inline std::vector<std::uint8_t> read_real_tape(const std::string& name) {
  std::ifstream in(real_tape(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline bool have_real_tapes() {
  struct stat st {};
  return stat(TAPEWREN_TAPES_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tapewren::testing

// Ends the test as skipped when the real tapes are not there.
#define TAPEWREN_NEEDS_REAL_TAPES()                                              \
  do {                                                                           \
    if (!::tapewren::testing::have_real_tapes())                                 \
      GTEST_SKIP() << TAPEWREN_TAPES_DIR " is absent: real-tape test skipped"; \
  } while (0)
