// Decodes UTF-8 text into a wide string and encodes it back with the installed
// foundation library's strings.
#include <cstdio>

#include "qel/StringBase.h"

int main() {
  using vo::qel::String;
  using vo::qel::Utf8String;
  const unsigned char text[] = "caf\xC3\xA9 \xE2\x82\xAC";  // "café €"
  const Utf8String utf8(text);
  const String wide(nullptr, utf8);
  const Utf8String back(nullptr, wide);
  const bool ok = wide.length() == 6 && wide[3] == L'\u00E9' && wide[5] == L'\u20AC' &&
                  back.exactCompare(utf8) == 0;
  std::printf("c++ consumer: %u UTF-8 bytes, %u characters, back to UTF-8 %s\n", utf8.length(),
              wide.length(), back.exactCompare(utf8) == 0 ? "unchanged" : "CHANGED");
  return ok ? 0 : 1;
}
