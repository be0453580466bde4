// Test support: real locales for conversion tests. A locale glibc lacks is compiled with
// localedef (from the `locales` package's sources) into /tmp/lorvath-test-locales, shared
// by all test processes and put on LOCPATH ahead of the system's folder.
// ScopedProcessLocale switches the whole process (setlocale, LC_ALL) and back to "C".
#ifndef TESTS_SUPPORT_TESTLOCALES_H_
#define TESTS_SUPPORT_TESTLOCALES_H_

#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

// glibc's newlocale keeps a copy of LOCPATH that it never frees: LeakSanitizer lets it
// pass (where llvm-symbolizer names the functions).
extern "C" __attribute__((used, visibility("default"))) inline const char*
__lsan_default_suppressions() {
  return "leak:argz_add_sep\nleak:argz_create_sep\n";
}

namespace vo::qel::testing {

inline bool LocaleExists(const std::string& name) {
  const locale_t l = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
  if (l != static_cast<locale_t>(0)) ::freelocale(l);
  return l != static_cast<locale_t>(0);
}

// Makes the locale `name` (source.charmap, e.g. de_DE.ISO-8859-1) available and returns
// "", or returns why it is missing.
inline std::string EnsureLocale(const std::string& name) {
  const std::string dir = "/tmp/lorvath-test-locales", built = dir + "/" + name;
  // glibc remembers a failed look-up per search path, so the system's own locales are
  // looked up without our folder, and ours only once built.
  const char* old = ::getenv("LOCPATH");
  const std::string oldPath = old != nullptr ? old : "/usr/lib/locale";
  ::unsetenv("LOCPATH");
  const bool system = LocaleExists(name);
  if (old != nullptr) ::setenv("LOCPATH", oldPath.c_str(), 1);
  if (system) return "";
  std::string tried = "a copy in " + dir;
  int status = 0;
  std::error_code ignored;
  if (!std::filesystem::exists(built, ignored)) {
    // Built under a private name and renamed, so that processes side by side never see
    // a half-written locale; if another won the race, its copy is as good as ours.
    std::filesystem::create_directory(dir, ignored);
    const std::string temp = dir + "/." + name + "." + std::to_string(::getpid());
    const size_t dot = name.find('.');
    tried = "localedef -c -i '" + name.substr(0, dot) + "' -f '" + name.substr(dot + 1) + "' '" +
            temp + "'";
    status = std::system((tried + " >/dev/null 2>&1").c_str());
    if (std::rename(temp.c_str(), built.c_str()) != 0) std::filesystem::remove_all(temp, ignored);
  }
  if (oldPath.find(dir) == std::string::npos) ::setenv("LOCPATH", (dir + ":" + oldPath).c_str(), 1);
  if (LocaleExists(name)) return "";
  return "locale " + name + " is missing and " + tried + " gave status " + std::to_string(status) +
         "; install the `locales` package (localedef, /usr/share/i18n)";
}

class ScopedProcessLocale {
 public:
  explicit ScopedProcessLocale(const char* name) : ok_(::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedProcessLocale() { ::setlocale(LC_ALL, "C"); }
  bool ok() const { return ok_; }

 private:
  const bool ok_;
};

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_TESTLOCALES_H_
