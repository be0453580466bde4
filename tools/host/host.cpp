// lorvath_host: stands in for the host. Like the host it loads its run-time engine first,
// then liblorvath.so with dlopen, and announces the engine to the library. It builds host
// string handles for the messages on its command line with the engine's own allocator,
// takes a reservation, writes each message at the chosen severity, gives the reservation
// back, and prints the result code of every call.
//
//   lorvath_host [options] MESSAGE...
//     --library PATH       the library to load (default: the one built with this tool)
//     --engine PATH        the run-time engine to load (default: the stand-in engine
//                          built with this tool)
//     --severity S         error, warning, information or a number (default information)
//     --utf8               write with Lorvath_WriteMessageUTF8 instead of Lorvath_WriteMessage
//     --escapes            read \n \r \t \\ \0 and \xHH in messages as the bytes they name
//     --no-reserve         write without taking a reservation first
//     --check-log          only tell whether something listens on /dev/log (exit 0 if so)
//
// Exit status: 0 when every call returned 0, 1 when one did not, 2 when the tool could not
// run (bad options, library or function not found).
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lorvath.h"

namespace {

struct Options {
  std::string library = LORVATH_LIBRARY_PATH;
  std::string engine = LORVATH_ENGINE_PATH;
  Lorvath_Severity severity = Lorvath_SeverityInformation;
  bool utf8 = false;
  bool escapes = false;
  bool reserve = true;
  bool checkLog = false;
  std::vector<std::string> messages;
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr,
               "lorvath_host: %s\n"
               "usage: lorvath_host [--library PATH] [--engine PATH]\n"
               "                    [--severity error|warning|information|N]\n"
               "                    [--utf8] [--escapes] [--no-reserve] [--check-log] "
               "MESSAGE...\n",
               problem);
  std::exit(2);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) Usage("\\x needs two hexadecimal digits");
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        out += '\\';
        out += c;
        break;
    }
  }
  return out;
}

// The message as a C string literal, so that control bytes can be seen.
std::string Quote(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

Options Parse(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    } else if (arg == "--library" && i + 1 < argc) {
      options.library = argv[++i];
    } else if (arg == "--engine" && i + 1 < argc) {
      options.engine = argv[++i];
    } else if (arg == "--severity" && i + 1 < argc) {
      const std::string s = argv[++i];
      if (s == "error") {
        options.severity = Lorvath_SeverityError;
      } else if (s == "warning") {
        options.severity = Lorvath_SeverityWarning;
      } else if (s == "information") {
        options.severity = Lorvath_SeverityInformation;
      } else {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(s.c_str(), &end, 10);
        if (s.empty() || *end != '\0' || errno != 0 || n < INT32_MIN || n > INT32_MAX) {
          Usage("--severity takes error, warning, information or a 32-bit number");
        }
        options.severity = static_cast<Lorvath_Severity>(n);
      }
    } else if (arg == "--utf8") {
      options.utf8 = true;
    } else if (arg == "--escapes") {
      options.escapes = true;
    } else if (arg == "--no-reserve") {
      options.reserve = false;
    } else if (arg == "--check-log") {
      options.checkLog = true;
    } else {
      Usage(("unknown option " + arg).c_str());
    }
  }
  for (; i < argc; ++i) options.messages.push_back(options.escapes ? Unescape(argv[i]) : argv[i]);
  if (!options.checkLog && options.messages.empty()) Usage("no message given");
  return options;
}

// Whether a system log listens on /dev/log, tried the way syslog(3) connects.
bool LogIsListening() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, "/dev/log", sizeof address.sun_path - 1);
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (ok) return true;
  }
  return false;
}

void* LoadModule(const std::string& path) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "lorvath_host: cannot load %s: %s\n", path.c_str(), dlerror());
    std::exit(2);
  }
  return module;
}

template <class F>
F Function(void* module, const char* name) {
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "lorvath_host: %s not found\n", name);
    std::exit(2);
  }
  return reinterpret_cast<F>(symbol);
}

// The engine's services for host strings: a handle is a master pointer to a record of a
// 32-bit count and exactly that many bytes, made and freed by the engine.
class Engine {
 public:
  explicit Engine(void* module)
      : resize_(Function<ResizeFunction>(module, "NumericArrayResize")),
        dispose_(Function<DisposeFunction>(module, "DSDisposeHandle")) {}

  LStrHandle NewString(const std::string& bytes) const {
    LStrHandle handle = nullptr;
    if (resize_(kUnsignedByte, 1, &handle, bytes.size()) != 0) {
      std::fprintf(stderr, "lorvath_host: the engine cannot make a string of %zu bytes\n",
                   bytes.size());
      std::exit(2);
    }
    (*handle)->cnt = static_cast<int32_t>(bytes.size());
    if (!bytes.empty()) std::memcpy((*handle)->str, bytes.data(), bytes.size());
    return handle;
  }

  void Dispose(LStrHandle handle) const { dispose_(handle); }

 private:
  using ResizeFunction = int32_t (*)(int32_t, int32_t, void*, size_t);
  using DisposeFunction = int32_t (*)(void*);
  static constexpr int32_t kUnsignedByte = 5;

  ResizeFunction resize_;
  DisposeFunction dispose_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  if (options.checkLog) {
    const bool listening = LogIsListening();
    std::printf("/dev/log: %s\n", listening ? "listening" : "nobody listening");
    return listening ? 0 : 1;
  }

  using FlagFunction = int32_t (*)(unsigned char*);
  using WriteFunction = int32_t (*)(LStrHandle, LStrHandle, LStrHandle, Lorvath_Severity);
  void* engineModule = LoadModule(options.engine);
  const Engine engine(engineModule);
  void* library = LoadModule(options.library);
  Function<void (*)(Lorvath_BundleRef)>(
      library, "SetOmbrixRunTimeBundle")(static_cast<Lorvath_BundleRef>(engineModule));
  const auto reserve = Function<FlagFunction>(library, "Lorvath_Reserve");
  const auto unreserve = Function<FlagFunction>(library, "Lorvath_Unreserve");
  const char* const writeName = options.utf8 ? "Lorvath_WriteMessageUTF8" : "Lorvath_WriteMessage";
  const auto write = Function<WriteFunction>(library, writeName);

  bool allZero = true;
  auto report = [&](const std::string& call, int32_t result) {
    std::printf("%s -> %d\n", call.c_str(), result);
    std::fflush(stdout);
    allZero = allZero && result == 0;
  };

  unsigned char flag = 0;
  if (options.reserve) report("Lorvath_Reserve", reserve(&flag));
  for (const std::string& message : options.messages) {
    LStrHandle handle = engine.NewString(message);
    report(std::string(writeName) + " " + Quote(message),
           write(nullptr, nullptr, handle, options.severity));
    engine.Dispose(handle);
  }
  if (options.reserve) report("Lorvath_Unreserve", unreserve(&flag));
  return allZero ? 0 : 1;
}
