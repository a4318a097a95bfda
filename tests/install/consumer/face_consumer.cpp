// A program outside the project on the installed face: every face header, each followed by the
// C library's <cstring>, which an installed face header must not stand in for.
// clang-format off
#include <zn/format.h>
#include <cstring>
#include <zn/image.h>
#include <cstring>
#include <zn/list.h>
#include <cstring>
#include <zn/map.h>
#include <cstring>
#include <zn/result.h>
#include <cstring>
#include <zn/runtime.h>
#include <cstring>
#include <zn/string.h>
#include <cstring>
// clang-format on

#include <cstdio>

int main() {
  zn::Runtime runtime;
  zn::Map<zn::String> names;
  names[u"short"] = u"ab";
  zn::List<double> values;
  values.push_back(2.5);
  const zn::String line =
      zn::format(u"{:>5}|{:<4}|{:.2f}", 42, *names.find(u"short"), *values.begin());
  std::printf("%s %zu\n", line.to_utf8().c_str(), std::strlen("four"));
  return 0;
}
