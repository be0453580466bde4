// Directory listing and file copying, each beside its reference in one run:
//   BM_FindFiles*      FindFiles with the mask "*.DAT" over 100,000 entries (every name
//                      fits, so every one becomes a wide String), against
//   BM_DirectoryIterator*  std::filesystem::directory_iterator listing the same paths and
//                      matching the names with fnmatch(FNM_CASEFOLD).
//   BM_CpFile          path::CpFile of a 256 MiB file, against
//   BM_CpCommand       cp(1) copying the same file (started with posix_spawn).
// The files live below /var/tmp (a disk, not memory) and are removed at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "qel/osdep/FindFiles.h"
#include "qel/osdep/path.h"

namespace {

namespace fs = std::filesystem;
using vo::qel::String;

// A private directory with the benchmark's files, made once and removed at exit.
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture fixture;
    return fixture;
  }
  const std::string& listDir() const { return listDir_; }
  const std::string& bigFile() const { return bigFile_; }
  std::string root() const { return root_; }

 private:
  Fixture() {
    char dir[] = "/var/tmp/qel-bench.XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    root_ = dir;
    listDir_ = root_ + "/list";
    fs::create_directory(listDir_);
    char name[32];
    for (int i = 0; i < 100000; ++i) {
      std::snprintf(name, sizeof(name), "/file_%06d.dat", i);
      const int fd = ::open((listDir_ + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) std::abort();
      ::close(fd);
    }
    bigFile_ = root_ + "/big";
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7 + (i >> 9));
    FILE* out = std::fopen(bigFile_.c_str(), "wb");
    for (int i = 0; i < 256; ++i) std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
  }
  ~Fixture() { fs::remove_all(root_); }

  std::string root_, listDir_, bigFile_;
};

void BM_FindFiles(benchmark::State& state) {
  const String pattern((Fixture::Get().listDir() + "/*.DAT").c_str());
  for (auto _ : state) {
    const vo::qel::Vector<String> found = vo::qel::osdep::FindFiles().getFilenames(pattern);
    if (found.size() != 100000) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(found.begin());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_FindFiles)->Unit(benchmark::kMillisecond);

void BM_DirectoryIterator(benchmark::State& state) {
  const std::string dir = Fixture::Get().listDir();
  for (auto _ : state) {
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      if (fnmatch("*.DAT", entry.path().filename().c_str(), FNM_CASEFOLD) == 0) {
        found.push_back(entry.path().native());
      }
    }
    if (found.size() != 100000) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(found.data());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_DirectoryIterator)->Unit(benchmark::kMillisecond);

void BM_CpFile(benchmark::State& state) {
  const String src(Fixture::Get().bigFile().c_str());
  const String dst((Fixture::Get().root() + "/copy-lib").c_str());
  for (auto _ : state) vo::qel::osdep::path::CpFile(src, dst, true);
  state.SetBytesProcessed(state.iterations() * (int64_t{256} << 20));
}
BENCHMARK(BM_CpFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CpCommand(benchmark::State& state) {
  const std::string src = Fixture::Get().bigFile();
  const std::string dst = Fixture::Get().root() + "/copy-cp";
  for (auto _ : state) {
    char* argv[] = {const_cast<char*>("cp"), const_cast<char*>(src.c_str()),
                    const_cast<char*>(dst.c_str()), nullptr};
    pid_t pid;
    int status = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || status != 0) {
      state.SkipWithError("cp failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * (int64_t{256} << 20));
}
BENCHMARK(BM_CpCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
