// BinaryFile::readExactSize in 1 MiB blocks through a 64 MiB file (in the page
// cache after the first pass), against a bare read(2) loop over the same file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qel/osdep/BinaryFile.h"

namespace {

constexpr size_t kBlock = 1 << 20;
constexpr int kBlocks = 64;

const std::string& FilePath() {
  static const std::string path = [] {
    char name[] = "/var/tmp/qel-bench-read.XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    std::vector<char> block(kBlock, 'x');
    for (int i = 0; i < kBlocks; ++i) {
      if (::write(fd, block.data(), kBlock) != ssize_t(kBlock)) std::abort();
    }
    ::close(fd);
    static const std::string kept = name;
    std::atexit([] { ::unlink(kept.c_str()); });
    return kept;
  }();
  return path;
}

void BM_ReadExactSize(benchmark::State& state) {
  using vo::qel::osdep::BinaryFile;
  BinaryFile file(vo::qel::String(FilePath().c_str()), BinaryFile::k_READ, false);
  std::vector<char> buffer(kBlock);
  for (auto _ : state) {
    file.seek(0, BinaryFile::k_BEGIN);
    for (int i = 0; i < kBlocks; ++i) {
      if (file.readExactSize(buffer.data(), kBlock) != int(kBlock)) state.SkipWithError("short");
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kBlock) * kBlocks);
}
BENCHMARK(BM_ReadExactSize)->Unit(benchmark::kMillisecond);

void BM_BareRead(benchmark::State& state) {
  const int fd = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<char> buffer(kBlock);
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    for (int i = 0; i < kBlocks; ++i) {
      if (::read(fd, buffer.data(), kBlock) != ssize_t(kBlock)) state.SkipWithError("short");
    }
  }
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * int64_t(kBlock) * kBlocks);
}
BENCHMARK(BM_BareRead)->Unit(benchmark::kMillisecond);

}  // namespace
