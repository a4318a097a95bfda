// A program outside the project on the installed face: every face header, each followed by the
// C library's <cstring>, which an installed face header must not stand in for.
#include <zn/format.h>
#include <zn/result.h>
#include <zn/runtime.h>
#include <zn/string.h>
#include <cstring>

#include <cstdio>

int main() {
  zn::Runtime runtime;
  const zn::String line = zn::format(u"{:>5}|{:<4}|{:.2f}", 42, zn::String(u"ab"), 2.5);
  std::printf("%s %zu\n", line.to_utf8().c_str(), std::strlen("four"));
  return 0;
}
