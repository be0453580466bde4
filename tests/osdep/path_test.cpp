// Paths: the string functions on rows, then the file-system operations inside a
// private tree: successes, the exception of each failure, links out of it.
#include "qel/osdep/path.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "qel/exception/DetailedException.h"
#include "qel/osdep/OSException.h"
#include "tests/support/TempTree.h"

namespace vo::qel::osdep::path {
namespace {

using testing::TempTree;
using testing::Wide;
namespace ex = exception;

// One string function by its short name on `a` (and `b`, for "join").
std::wstring Apply(const std::wstring& f, const wchar_t* a, const wchar_t* b) {
  String p(a);
  if (f == L"base") return Wide(BaseName(p));
  if (f == L"dir") return Wide(DirName(p));
  if (f == L"join") return Wide(Join(p, b));
  if (f == L"norm") return Wide(NormalizePath(p));
  if (f == L"abs") return IsAbs(p) ? L"abs" : L"rel";
  MakePathEndInSlash(p);
  return Wide(p);
}

TEST(PathTest, StringFunctions) {
  const wchar_t* const rows[][4] = {
      {L"base", L"/usr/lib", L"", L"lib"},  {L"base", L"/usr/lib/", L"", L""},
      {L"dir", L"/usr", L"", L"/"},         {L"dir", L"lib", L"", L""},
      {L"dir", L"/a/b", L"", L"/a"},        {L"dir", L"a/b/", L"", L"a/b"},
      {L"dir", L"//", L"", L"//"},          {L"dir", L"/a//b", L"", L"/a"},
      {L"join", L"/a", L"b", L"/a/b"},      {L"join", L"/a/", L"b", L"/a/b"},
      {L"join", L"/a", L"/b", L"/b"},       {L"join", L"", L"b", L"b"},
      {L"join", L"/a", L"", L"/a/"},        {L"norm", L"/a/../../b", L"", L""},
      {L"norm", L"a/b", L"", L""},          {L"norm", L"/a//b", L"", L"/a//b"},
      {L"norm", L"/a/./b/", L"", L"/a/b/"}, {L"norm", L"/a/./b/../c", L"", L"/a/c"},
      {L"norm", L"/a/.../b", L"", L""},     {L"norm", L"/.", L"", L"/"},
      {L"norm", L"/a//./b", L"", L"/a//b"}, {L"norm", L"/a/.x/..y/", L"", L"/a/.x/..y/"},
      {L"norm", L"/a/b/../", L"", L"/a/"},  {L"slash", L"/a", L"", L"/a/"},
      {L"slash", L"/a/", L"", L"/a/"},      {L"abs", L"/", L"", L"abs"},
      {L"abs", L"a/", L"", L"rel"},         {L"abs", L"", L"", L"rel"}};
  for (const auto& r : rows) {
    EXPECT_EQ(r[3], Apply(r[0], r[1], r[2])) << r[0] << " " << r[1] << " " << r[2];
  }
  String empty;
  EXPECT_THROW(MakePathEndInSlash(empty), ex::InvalidArgument);
}

TEST(PathTest, EachFailureThrowsItsException) {
  TempTree t;
  t.write("file", "data");
  t.write("other", "keep");
  ASSERT_EQ(0, ::mkdir(t.at("full").c_str(), 0700));
  t.write("full/x", "");
  ASSERT_EQ(0, ::symlink(t.at("nowhere/new").c_str(), t.at("dangling").c_str()));
  const String file = t.wide("file"), missing = t.wide("missing");
  EXPECT_THROW(CreateDir(L"a/b/"), ex::InvalidArgument);
  EXPECT_THROW(CreateDir((Wide(file) + L"/sub/").c_str()), ex::ObjectAlreadyExists);
  EXPECT_THROW(DoesFileExist(L"file"), ex::InvalidArgument);
  EXPECT_THROW(RemoveFile(missing, false), PosixError);
  EXPECT_THROW(RemoveDir(t.wide("full").c_str()), ex::AccessDenied);
  EXPECT_THROW(RemoveDirForce(missing.c_str()), ex::NonexistentException);
  // Neither a link that leads nowhere nor a file is a folder to remove.
  EXPECT_THROW(RemoveDir(t.wide("dangling").c_str()), ex::NonexistentException);
  EXPECT_THROW(RemoveDirForce(file.c_str()), ex::NonexistentException);
  EXPECT_THROW(CpFile(L"file", missing, true), ex::InvalidArgument);
  EXPECT_THROW(CpFile(file, t.wide("other"), false), ex::FileAlreadyExists);
  // O_EXCL: a dangling link is no file, but the copy must not create its target.
  EXPECT_THROW(CpFile(file, t.wide("dangling"), false), ex::FileAlreadyExists);
  EXPECT_THROW(RenameFile(file, L"x"), ex::InvalidArgument);
  EXPECT_THROW(ResolveSymLink(file), ex::InvalidArgument);
  EXPECT_THROW(TempFileName(L"", L""), ex::InvalidArgument);
  // Names the system encoding (the "C" locale's ASCII here) cannot hold exactly.
  EXPECT_THROW(DoesFileExist(file + L"\u00e9"), ex::InvalidArgument);
  EXPECT_THROW(DoesFileExist(file + String(L"\0x", 2)), ex::InvalidArgument);
  EXPECT_EQ("keep", t.read("other"));
  EXPECT_EQ("<missing>", t.read("nowhere/new"));
  RemoveFile(missing, true);  // ignoring errors
}

// Operations on a tree, then links planted to lead out of it: removing or copying the tree
// leaves what they point at as it was. A copy onto the file itself keeps it; trees have a
// depth limit.
TEST(PathTest, OperationsOnATreeLinksOutAndDepth) {
  TempTree t;
  const mode_t oldMask = ::umask(077);
  CreateDir(t.wide("a/b/c").c_str());  // c names a file
  CreateDir(t.wide("m/").c_str(), 0755);
  ::umask(oldMask);
  struct stat st;
  ASSERT_EQ(0, ::stat(t.at("m").c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 07777) << "the umask does not apply";
  EXPECT_TRUE(IsDirectory(t.wide("a/b")) && !IsDirectory(t.wide("a/b/c")));
  t.write("a/f", "hello");
  EXPECT_TRUE(DoesFileExist(t.wide("a/f")) && !DoesFileExist(t.wide("a")));
  CreateSymLink(t.wide("link"), L"a/f");
  EXPECT_EQ(L"a/f", Wide(ResolveSymLink(t.wide("link")))) << "relative content stays relative";
  t.write("a/long", "a longer text");
  CpFile(t.wide("a/f"), t.wide("a/long"), true);
  EXPECT_EQ("hello", t.read("a/long")) << "overwriting truncates";
  RenameFile(t.wide("a/long"), t.wide("moved"));
  EXPECT_EQ("hello", t.read("moved"));
  t.write("a/.hidden", "h");
  ASSERT_EQ(0, ::symlink("f", t.at("a/ln").c_str()));
  CpDir(t.wide("a"), t.wide("made/copy/"));
  EXPECT_TRUE(IsDirectory(t.wide("made/copy/b")));
  EXPECT_EQ("hello", t.read("made/copy/f"));
  EXPECT_EQ("<missing>", t.read("made/copy/.hidden")) << "hidden names are not copied";
  EXPECT_EQ(L"f", Wide(ResolveSymLink(t.wide("made/copy/ln")))) << "links are copied as links";
  CpDir(t.wide("a"), t.wide("made/copy/"));  // a second copy replaces what the first made
  RemoveDir(t.wide("m").c_str());
  RemoveDirForce(t.wide("made").c_str());
  EXPECT_FALSE(IsDirectory(t.wide("made")) || IsDirectory(t.wide("m")));
  ::setenv("TMPDIR", t.at().c_str(), 1);  // each test runs in a process of its own
  EXPECT_EQ(Wide(t.wide("pre")), Wide(TempFileName(L"pre", L"")).substr(0, t.at().size() + 4));
  t.write("sentinel", "outside");
  CreateDir(t.wide("outdir/tree/sub/").c_str());
  t.write("outdir/kept", "outside too");
  ASSERT_EQ(0, ::symlink(t.at("outdir").c_str(), t.at("outdir/tree/sub/todir").c_str()));
  ASSERT_EQ(0, ::symlink(t.at("sentinel").c_str(), t.at("outdir/tree/tofile").c_str()));
  t.write("outdir/tree/sub/f", "in");
  CpDir(t.wide("outdir/tree"), t.wide("copy/"));
  EXPECT_TRUE(IsSymLink(t.wide("copy/sub/todir")) && IsSymLink(t.wide("copy/tofile")));
  // A destination whose entry is a link out: the copy refuses to write through it.
  ASSERT_EQ(0, ::unlink(t.at("copy/sub/f").c_str()));
  ASSERT_EQ(0, ::symlink(t.at("sentinel").c_str(), t.at("copy/sub/f").c_str()));
  EXPECT_THROW(CpDir(t.wide("outdir/tree"), t.wide("copy/")), PosixError);
  RemoveDirForce(t.wide("copy").c_str());
  RemoveDirForce(t.wide("outdir/tree").c_str());
  EXPECT_EQ("outside", t.read("sentinel"));
  EXPECT_EQ("outside too", t.read("outdir/kept"));
  ASSERT_EQ(0, ::link(t.at("sentinel").c_str(), t.at("hard").c_str()));
  CpFile(t.wide("sentinel"), t.wide("hard"), true);
  EXPECT_EQ("outside", t.read("sentinel"));
  // kMaxTreeDepth levels below "deep" are copied and removed; one more is refused.
  std::string deep = "deep";
  for (int i = 1; i < kMaxTreeDepth; ++i) deep += "/d";
  CreateDir(t.wide(deep + "/").c_str());
  CpDir(t.wide("deep"), t.wide("copy/"));
  RemoveDirForce(t.wide("copy").c_str());
  CreateDir(t.wide(deep + "/d/").c_str());
  EXPECT_THROW(CpDir(t.wide("deep"), t.wide("copy/")), ex::BoundExceeded2);
  EXPECT_THROW(RemoveDirForce(t.wide("deep").c_str()), ex::BoundExceeded2);
}

}  // namespace
}  // namespace vo::qel::osdep::path
