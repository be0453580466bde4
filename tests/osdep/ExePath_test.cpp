// The running program's path: its name, the allocation-free form with a buffer too
// small, and a program whose file was removed while it runs.
#include "qel/osdep/ExePath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/TempTree.h"

namespace vo::qel::osdep {
namespace {

using testing::Wide;

TEST(ExePathTest, NamesThisProgram) {
  const std::wstring path = Wide(GetExePath());
  EXPECT_EQ(L'/', path.front());
  EXPECT_EQ(L"osdep_ExePath_test", Wide(GetExeBaseName()));
  EXPECT_EQ(L"/osdep_ExePath_test", path.substr(path.rfind(L'/'))) << path;
  char buffer[4096], small[8];
  EXPECT_EQ(path.size(), ReadExePath(buffer, sizeof(buffer)));
  EXPECT_EQ(sizeof(small), ReadExePath(small, sizeof(small))) << "too small, and says so";
  EXPECT_EQ('\0', small[sizeof(small) - 1]);
  EXPECT_EQ(0u, ReadExePath(small, 0));
}

// A host updated in place still knows its own name: the kernel's " (deleted)" mark is
// not part of it. The test runs a copy of this program that removes itself.
TEST(ExePathTest, DeletedProgramKeepsItsName) {
  if (std::getenv("LORVATH_EXEPATH_DELETE_SELF") != nullptr) {
    char self[4096];
    ASSERT_LT(ReadExePath(self, sizeof(self)), sizeof(self));
    ASSERT_EQ(0, ::unlink(self));
    std::printf("[%ls|%ls]\n", GetExePath().c_str(), GetExeBaseName().c_str());
    return;
  }
  testing::TempTree t;
  std::ofstream(t.at("copy"), std::ios::binary)
      << std::ifstream("/proc/self/exe", std::ios::binary).rdbuf();
  ASSERT_EQ(0, ::chmod(t.at("copy").c_str(), 0700));
  FILE* child = ::popen(("LORVATH_EXEPATH_DELETE_SELF=1 " + t.at("copy") +
                         " --gtest_filter=ExePathTest.DeletedProgramKeepsItsName 2>&1")
                            .c_str(),
                        "r");
  ASSERT_NE(nullptr, child);
  std::string text;
  for (int c; (c = std::fgetc(child)) != EOF;) text += char(c);
  const int status = ::pclose(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  EXPECT_NE(std::string::npos, text.find("[" + t.at("copy") + "|copy]")) << text;
  EXPECT_EQ("<missing>", t.read("copy")) << "the child did not remove itself";
}

}  // namespace
}  // namespace vo::qel::osdep
