// The running program's path, and that of a program whose file was removed while it
// runs (a host updated in place): the kernel's " (deleted)" mark is not part of it.
#include "qel/osdep/ExePath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/TempTree.h"

namespace vo::qel::osdep {
namespace {

TEST(ExePathTest, NamesThisProgramAlsoOnceDeleted) {
  char path[4096], small[8];
  const size_t length = ReadExePath(path, sizeof(path));
  if (std::getenv("LORVATH_EXEPATH_DELETE_SELF") != nullptr) {  // the copy below
    ASSERT_EQ(0, ::unlink(path));
    std::printf("[%ls|%ls]\n", GetExePath().c_str(), GetExeBaseName().c_str());
    return;
  }
  EXPECT_EQ(std::wstring(path, path + length), testing::Wide(GetExePath()));
  EXPECT_EQ(L"osdep_ExePath_test", testing::Wide(GetExeBaseName()));
  EXPECT_EQ(sizeof(small), ReadExePath(small, sizeof(small))) << "too small, and says so";
  testing::TempTree t;
  std::ofstream(t.at("copy"), std::ios::binary) << std::ifstream(path, std::ios::binary).rdbuf();
  ASSERT_EQ(0, ::chmod(t.at("copy").c_str(), 0700));
  const std::string command = "LORVATH_EXEPATH_DELETE_SELF=1 " + t.at("copy") +
                              " --gtest_filter=ExePathTest.NamesThisProgramAlsoOnceDeleted 2>&1";
  FILE* child = ::popen(command.c_str(), "r");
  ASSERT_NE(nullptr, child);
  std::string text;
  for (int c; (c = std::fgetc(child)) != EOF;) text += char(c);
  EXPECT_EQ(0, ::pclose(child)) << text;
  EXPECT_NE(std::string::npos, text.find("[" + t.at("copy") + "|copy]")) << text;
  EXPECT_EQ("<missing>", t.read("copy")) << "the child did not remove itself";
}

}  // namespace
}  // namespace vo::qel::osdep
