// Test support: a private directory under /tmp, removed with everything in it when
// the object goes, with helpers to plant and read files by relative name.
#ifndef TESTS_SUPPORT_TEMPTREE_H_
#define TESTS_SUPPORT_TEMPTREE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "qel/StringBase.h"

namespace vo::qel::testing {

class TempTree {
 public:
  TempTree() : root_("/tmp/qel-tree.XXXXXX") { EXPECT_NE(nullptr, ::mkdtemp(root_.data())); }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // The absolute path of `relative` (the root itself for ""), narrow and wide.
  std::string at(const std::string& relative = "") const {
    return relative.empty() ? root_ : root_ + "/" + relative;
  }
  String wide(const std::string& relative = "") const { return String(at(relative).c_str()); }

  void write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(at(relative), std::ios::binary) << bytes;
  }
  // The file's bytes; "<missing>" when it cannot be read.
  std::string read(const std::string& relative) const {
    std::ifstream in(at(relative), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
  }

 private:
  std::string root_;
};

inline std::wstring Wide(const String& s) { return std::wstring(s.c_str(), s.length()); }

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_TEMPTREE_H_
