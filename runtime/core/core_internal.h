// Internal to the runtime core: the start the guard runs. Not installed.
#pragma once

namespace zn::internal {

// RuntimeStartupKeepingLocale: RuntimeStartup, except that the locale step leaves a locale the
// program has chosen (character types other than "C" or "POSIX") as it is.
void RuntimeStartupKeepingLocale();

}  // namespace zn::internal
