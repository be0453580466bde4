// Directory listings: which names each mask lets through (case, '*', '?', hidden
// names, "." and "..") and what each flag does.
#include "qel/osdep/FindFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TempTree.h"

namespace vo::qel::osdep {
namespace {

using testing::TempTree;
using testing::Wide;
using F = FindFiles;

// The listing of `mask` in the tree, names below its root (a resolved link's as it is),
// sorted but for the dot entries, which come last.
std::vector<std::wstring> List(const TempTree& t, const std::wstring& mask, int flags) {
  const std::wstring root = Wide(t.wide()) + L"/";
  const String pattern((root + mask).c_str());
  std::vector<std::wstring> names;
  for (const String& s :
       flags < 0 ? F().getFilenames(pattern) : F().getFilenames(pattern, F::FindFlags(flags))) {
    const std::wstring name = Wide(s);
    names.push_back(name.rfind(root, 0) == 0 ? name.substr(root.size()) : name);
  }
  if (flags != F::k_ADD_DOT_ENTRIES) std::sort(names.begin(), names.end());
  return names;
}

TEST(FindFilesTest, MasksAndFlags) {
  TempTree t;
  for (const char* name : {"readme.txt", "abc", "ac", "aXbYbZc", ".hidden", "a.b.c", "Q"}) {
    t.write(name, "");
  }
  ASSERT_EQ(0, ::mkdir(t.at("sub").c_str(), 0700));
  ASSERT_EQ(0, ::symlink("sub", t.at("ln").c_str()));
  using V = std::vector<std::wstring>;
  const V all = {L"Q", L"a.b.c", L"aXbYbZc", L"abc", L"ac", L"ln", L"readme.txt", L"sub"};
  const int none = -1;
  const struct {
    const char* name;
    const wchar_t* mask;
    int flags;
    V expected;
  } rows[] = {
      {"star_any_case", L"*.TXT", none, {L"readme.txt"}},
      {"question_one_char", L"a?c", none, {L"abc"}},
      {"star_everything_visible", L"*", none, all},
      {"star_backtracks", L"*b*C", none, {L"a.b.c", L"aXbYbZc", L"abc"}},
      {"stars_doubled", L"**c", none, {L"a.b.c", L"aXbYbZc", L"abc", L"ac"}},
      {"hidden_included", L".*", F::k_INCLUDE_HIDDEN, {L".hidden"}},
      {"directories_only", L"*", F::k_DIRECTORIES_ONLY, {L"ln/", L"sub/"}},
      {"links_resolved", L"l*", F::k_RESOLVE_SYMLINKS, {L"sub"}},
      {"dot_entries_last", L"s*", F::k_ADD_DOT_ENTRIES, {L"sub", L".", L".."}},
      {"unopenable_directory", L"none/*", none, {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, List(t, row.mask, row.flags)) << row.name;
  }
}

}  // namespace
}  // namespace vo::qel::osdep
