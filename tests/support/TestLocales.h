// Test support: the real locales the conversion tests run in. tools/check.sh makes the
// ones glibc lacks in the system's locale archive; a test that finds one missing skips,
// saying how to make it. ScopedProcessLocale switches the whole process (setlocale,
// LC_ALL) and back to "C".
#ifndef TESTS_SUPPORT_TESTLOCALES_H_
#define TESTS_SUPPORT_TESTLOCALES_H_

#include <locale.h>

#include <string>

namespace vo::qel::testing {

// "" when the locale `name` (source.charmap, e.g. de_DE.ISO-8859-1) exists, else why not.
inline std::string MissingLocale(const std::string& name) {
  const locale_t l = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
  if (l != static_cast<locale_t>(0)) {
    ::freelocale(l);
    return "";
  }
  const size_t dot = name.find('.');
  return "locale " + name + " is missing: tools/check.sh makes it, or as root: localedef -i " +
         name.substr(0, dot) + " -f " + name.substr(dot + 1) + " " + name;
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
