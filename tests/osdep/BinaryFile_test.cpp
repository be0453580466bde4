// BinaryFile: exact bytes in both byte orders, modes and misuse, failed reads that
// leave the position and the buffer as they were, a huge length prefix, reads from a pipe.
#include "qel/osdep/BinaryFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/TempTree.h"

namespace vo::qel::osdep {
namespace {

using testing::TempTree;
using B = BinaryFile;

std::string Bytes(const AutoBuffer& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()), b.Len());
}

TEST(BinaryFileTest, ExactBytesInBothOrdersModesAndMisuse) {
  TempTree t;
  const unsigned char abc[] = {'a', 'b', 'c'};
  const mode_t mask = ::umask(022);
  B file(t.wide("f"), B::k_READ_WRITE | B::k_CREATE | B::k_TRUNCATE, false);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(0, ::stat(t.at("f").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(7, file.writeByteVector(BufferWrapper(abc, 3), B::k_BIG_ENDIAN));
  EXPECT_EQ(7, file.writeByteVector(BufferWrapper(abc, 3), B::k_LITTLE_ENDIAN));
  EXPECT_EQ(4, file.writeByteVector(BufferWrapper(), B::k_BIG_ENDIAN));
  EXPECT_EQ(4, file.writeScalarValue(0x12345678u, B::k_BIG_ENDIAN));
  EXPECT_EQ(4, file.writeScalarValue(0x12345678u, B::k_LITTLE_ENDIAN));
  EXPECT_EQ(std::string("\0\0\0\3abc\3\0\0\0abc\0\0\0\0\x12\x34\x56\x78\x78\x56\x34\x12", 26),
            t.read("f"));
  file.seek(0, B::k_BEGIN);
  AutoBuffer buf(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(7, file.readByteVector(buf, B::k_BIG_ENDIAN));
  EXPECT_EQ(7, file.readByteVector(buf, B::k_LITTLE_ENDIAN));
  EXPECT_EQ(4, file.readByteVector(buf, B::k_BIG_ENDIAN));
  EXPECT_EQ("xabcabc", Bytes(buf));
  unsigned int big = 0, little = 0;
  file.readScalarValue(big, B::k_BIG_ENDIAN);
  EXPECT_EQ(4, file.readScalarValue(little, B::k_LITTLE_ENDIAN));
  EXPECT_TRUE(big == 0x12345678u && little == 0x12345678u) << big << " " << little;
  file.resize(2);
  EXPECT_EQ(26, file.seek(0, B::k_CURRENT)) << "resizing keeps the position";
  EXPECT_EQ(std::string(2, '\0'), t.read("f"));
  testing::AlertRecorder checks;
  EXPECT_EQ(-1, file.openNoThrow(t.wide("f"), B::k_READ)) << "the first file stays open";
  B closed;
  EXPECT_EQ(-1, closed.readExactSize(buf, 1));
  EXPECT_EQ(-1, closed.write("", 1));
  EXPECT_EQ(-1, closed.seek(0, B::k_BEGIN));
  closed.resize(0);
  EXPECT_EQ(5u, checks.take().size()) << "a re-open and each use of an unopened file";
}

TEST(BinaryFileTest, FailedReadsGiveBackWhatTheyTook) {
  TempTree t;
  t.write("three", "abc");
  B file(t.wide("three"), B::k_READ, false);
  char bytes[16];
  AutoBuffer buf(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(-1, file.readExactSize(bytes, 4));
  EXPECT_EQ(0, file.seek(0, B::k_CURRENT));
  EXPECT_THROW(file.readExactSize(bytes, size_t{1} << 31), exception::OutOfRange);
  EXPECT_EQ(-1, file.readExactSize(buf, 4));
  EXPECT_EQ(0, file.seek(0, B::k_CURRENT));
  EXPECT_EQ(3, file.read(buf, 10));
  EXPECT_EQ("xabc", Bytes(buf)) << "the failed read gave back what it took";
  // A length prefix of 10 with 6 bytes behind it, and prefixes no file could back.
  for (const std::string& prefix :
       {std::string("\0\0\0\x0a", 4), std::string("\x7f\xff\xff\xf0"),
        std::string("\xff\xff\xff\xff"), std::string("\0\x40\0\0", 4)}) {
    t.write("vector", prefix + "123456");
    B vec(t.wide("vector"), B::k_READ, false);
    AutoBuffer into(reinterpret_cast<const unsigned char*>("x"), 1);
    const unsigned int memory = into.MemUsage();
    EXPECT_EQ(-1, vec.readByteVector(into, B::k_BIG_ENDIAN));
    EXPECT_EQ(0, vec.seek(0, B::k_CURRENT));
    EXPECT_EQ("x", Bytes(into));
    EXPECT_EQ(memory, into.MemUsage()) << "grew for a length the file cannot back";
  }
}

// A huge prefix with the address space cut to well below what it claims: the read
// fails cleanly instead of the process dying.
TEST(BinaryFileTest, HugePrefixUnderLoweredAddressSpace) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "sanitizer runtimes reserve more address space than the limit allows";
#endif
#endif
  TempTree t;
  t.write("huge", std::string("\x7f\xff\xff\xf0", 4) + "abc");
  const pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    const rlimit limit = {size_t{512} << 20, size_t{512} << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    B file(t.wide("huge"), B::k_READ, false);
    AutoBuffer buf;
    ::_exit(file.readByteVector(buf, B::k_BIG_ENDIAN) == -1 && buf.Len() == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A pipe: a signal during its blocking read is retried, and as its size is unknown, the
// buffer for a claimed length grows only with the bytes that arrive.
TEST(BinaryFileTest, PipeReadsRetrySignalsAndGrowWithTheInput) {
  struct sigaction action = {}, old;
  action.sa_handler = [](int) {};  // no SA_RESTART: the read itself returns EINTR
  ASSERT_EQ(0, ::sigaction(SIGUSR1, &action, &old));
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  ASSERT_LE(1 << 17, ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 17));  // the writer never blocks
  B pipe(String(("/proc/self/fd/" + std::to_string(fds[0])).c_str()), B::k_READ, false);
  ::close(fds[0]);
  const pthread_t reader = ::pthread_self();
  std::thread writer([&] {
    ::usleep(100 * 1000);
    ::pthread_kill(reader, SIGUSR1);
    ::usleep(100 * 1000);
    // A vector of 3 bytes, then a prefix that claims 256 MiB with one step's bytes and 3 more.
    const std::string bytes = std::string("\0\0\0\3abc\x10\0\0\0", 11) + std::string(65539, 'z');
    (void)!::write(fds[1], bytes.data(), bytes.size());
    ::close(fds[1]);
  });
  AutoBuffer into;
  EXPECT_EQ(7, pipe.readByteVector(into, B::k_BIG_ENDIAN));
  EXPECT_EQ(-1, pipe.readByteVector(into, B::k_BIG_ENDIAN));
  writer.join();
  ::sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ("abc", Bytes(into));
  EXPECT_LT(into.MemUsage(), 1u << 20);
}

}  // namespace
}  // namespace vo::qel::osdep
