#include "qel/osdep/ExePath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace vo::qel::osdep {
namespace {

std::wstring Wide(const String& s) { return std::wstring(s.c_str(), s.length()); }

TEST(ExePathTest, NamesThisProgram) {
  const std::wstring path = Wide(GetExePath());
  EXPECT_EQ(L"/osdep_ExePath_test", path.substr(path.rfind(L'/'))) << path;
  EXPECT_EQ(L'/', path.front());
  EXPECT_EQ(L"osdep_ExePath_test", Wide(GetExeBaseName()));
  // The allocation-free form agrees, and a buffer too small says so instead of cutting
  // the path quietly.
  char buffer[4096], small[8];
  EXPECT_EQ(path.size(), ReadExePath(buffer, sizeof(buffer)));
  EXPECT_EQ(sizeof(small), ReadExePath(small, sizeof(small)));
  EXPECT_EQ('\0', small[sizeof(small) - 1]);
  EXPECT_EQ(0u, ReadExePath(small, 0));
}

// A program whose file was removed while it runs (a host updated in place) still
// knows its own name: the kernel's " (deleted)" mark is not part of it.
constexpr char kChildMode[] = "LORVATH_EXEPATH_DELETE_SELF";

TEST(ExePathTest, DeletedProgramKeepsItsName) {
  if (std::getenv(kChildMode) != nullptr) {
    char self[4096];
    ASSERT_LT(ReadExePath(self, sizeof(self)), sizeof(self));
    ASSERT_EQ(0, ::unlink(self));
    const String path = GetExePath();
    std::printf("[%ls|%ls]\n", path.c_str(), GetExeBaseName().c_str());
    return;
  }
  char dir[] = "/tmp/lorvath-exepath.XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string copy = std::string(dir) + "/copy_of_test";
  std::ofstream(copy, std::ios::binary)
      << std::ifstream("/proc/self/exe", std::ios::binary).rdbuf();
  ASSERT_EQ(0, ::chmod(copy.c_str(), 0700));

  const std::string command = std::string(kChildMode) + "=1 '" + copy +
                              "' --gtest_filter=ExePathTest.DeletedProgramKeepsItsName 2>&1";
  FILE* child = ::popen(command.c_str(), "r");
  ASSERT_NE(nullptr, child);
  std::string text;
  for (int c; (c = std::fgetc(child)) != EOF;) text += char(c);
  const int status = ::pclose(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  EXPECT_NE(std::string::npos, text.find("[" + copy + "|copy_of_test]")) << text;
  EXPECT_NE(0, ::access(copy.c_str(), F_OK)) << "the child did not remove itself";
  ::rmdir(dir);
}

}  // namespace
}  // namespace vo::qel::osdep
