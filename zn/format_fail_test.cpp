// Format strings that must not compile, one case per build (ZN_FAIL_CASE), each beside a twin in
// case 0 that does; the test expects the compiler's message to name the fault.
#include "zn/format.h"

void Cases() {
#if ZN_FAIL_CASE == 0
  (void)zn::format(u"{} {}", 1, u"a");
  (void)zn::format(u"{0:>4.1f} {1}", 2.0, "b");
  (void)zn::format(u"{{}}");
#elif ZN_FAIL_CASE == 1
  (void)zn::format(u"{} {}", 1);
#elif ZN_FAIL_CASE == 2
  (void)zn::format(u"{}", 1, 2);
#elif ZN_FAIL_CASE == 3
  (void)zn::format(u"{:d}", u"text");
#elif ZN_FAIL_CASE == 4
  (void)zn::format(u"{:.2}", 7);
#elif ZN_FAIL_CASE == 5
  (void)zn::format(u"{", 1);
#elif ZN_FAIL_CASE == 6
  (void)zn::format(u"{:5.}", 1.0);
#elif ZN_FAIL_CASE == 7
  (void)zn::format(u"{} {0}", 1);
#elif ZN_FAIL_CASE == 8
  (void)zn::format(u"{}", true);
#endif
}
