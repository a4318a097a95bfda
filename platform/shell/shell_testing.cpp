// The application shell's test controls.
#include "platform/shell/shell_testing.h"

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "system/desktop/application.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"

namespace zn {

using namespace desktop;

void ShellTestReset() {
  ZnApplicationDelegate*& application_delegate = internal::ShellApplicationDelegate();
  if (NSApp != nullptr && NSApp->delegate() == application_delegate) {
    NSApp->setDelegate(nullptr);
  }
  if (NSApp != nullptr) {
    NSApp->setMainMenu(nullptr);
  }
  objc_release(application_delegate);
  application_delegate = nullptr;
  objc_release(internal::ShellDefaultMenuBar());
  internal::ShellDefaultMenuBar() = nullptr;
  internal::ApplicationMenuRelease();
  objc_release(internal::ShellMenuDelegate());
  internal::ShellMenuDelegate() = nullptr;
  objc_release(internal::ShellApplicationPool());
  internal::ShellApplicationPool() = nullptr;
  internal::ShellOpenFilesCallback() = nullptr;
}

NSMutableArray* ShellGadgetLists() {
  return internal::GadgetListsAll();
}

}  // namespace zn
