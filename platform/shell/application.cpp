// The application object, its delegate and the start steps that make the process a regular
// application: front process, shared application, defaults, application menu, delegates.
//
// The platform's Quit command never ends the process directly: it becomes a Quit menu event and
// the program decides.
#include <cstdint>

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "runtime/events/events.h"
#include "system/desktop/application.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"

namespace zn {

using namespace desktop;

namespace {

NSAutoreleasePool* application_pool = nullptr;
ZnMenuDelegate* menu_delegate = nullptr;
NSMenu* default_menu_bar = nullptr;
ZnApplicationDelegate* application_delegate = nullptr;
OpenFilesRoutine open_files_callback = nullptr;

NSApplication* MakeZnApplication() {
  return objc_alloc<ZnApplication>();
}

bool CharactersAre(NSEvent* event, std::u16string_view text) {
  NSString* characters = event->charactersIgnoringModifiers();
  return characters != nullptr && characters->isEqualToString(NSSTR(text));
}

// The menu delegate, the application menu in the default menu bar (installed as the main menu)
// and the application delegate, all or none: under exhausted memory the application runs without
// them and the next start builds them again, instead of keeping half a menu for good.
void ApplicationMenusInstall() {
  menu_delegate = objc_alloc<ZnMenuDelegate>();
  const bool menu_was_built = ApplicationMenu().application_menu != nullptr;
  NSMenu* menu_bar = menu_delegate == nullptr ? nullptr : BuildApplicationMenu();
  auto* delegate = menu_bar == nullptr ? nullptr : objc_alloc<ZnApplicationDelegate>();
  if (delegate != nullptr) {
    InstallMenuBar(menu_bar, -1);
  }
  if (delegate == nullptr || NSApp->mainMenu() != menu_bar) {
    objc_release(delegate);
    objc_release(menu_bar);
    if (!menu_was_built) {
      internal::ApplicationMenuRelease();
    }
    objc_release(menu_delegate);
    menu_delegate = nullptr;
    return;
  }
  default_menu_bar = menu_bar;
  application_delegate = delegate;
  NSApp->setDelegate(application_delegate);
}

}  // namespace

namespace internal {

void ApplicationObjectsRelease() {
  if (NSApp != nullptr && NSApp->delegate() == application_delegate) {
    NSApp->setDelegate(nullptr);
  }
  if (NSApp != nullptr) {
    NSApp->setMainMenu(nullptr);
  }
  objc_release(application_delegate);
  application_delegate = nullptr;
  objc_release(default_menu_bar);
  default_menu_bar = nullptr;
  ApplicationMenuRelease();
  objc_release(menu_delegate);
  menu_delegate = nullptr;
  objc_release(application_pool);
  application_pool = nullptr;
  open_files_callback = nullptr;
}

ZnMenuDelegate*& ShellMenuDelegate() {
  return menu_delegate;
}
NSMenu*& ShellDefaultMenuBar() {
  return default_menu_bar;
}
NSAutoreleasePool*& ShellApplicationPool() {
  return application_pool;
}
ZnApplicationDelegate*& ShellApplicationDelegate() {
  return application_delegate;
}
OpenFilesRoutine& ShellOpenFilesCallback() {
  return open_files_callback;
}

}  // namespace internal

// ---------------------------------------------------------------------------------------------
// ZnApplication.

NSApplication* ZnApplication::sharedApplication() {
  return NSApplication::sharedApplicationOfClass(MakeZnApplication);
}

void ZnApplication::sendEvent(NSEvent* event) {
  if (event == nullptr || event->type() != NSEventTypeKeyDown) {
    NSApplication::sendEvent(event);
    return;
  }
  // Only the device-independent modifiers count, and only Command alone or Command-Shift:
  // key downs with Option or Control are never editing actions.
  const uint64_t modifiers = event->modifierFlags() & NSEventModifierFlagDeviceIndependentFlagsMask;
  if (modifiers == NSEventModifierFlagCommand) {
    SEL action;
    if (CharactersAre(event, u"x")) {
      action = "cut:";
    } else if (CharactersAre(event, u"c")) {
      action = "copy:";
    } else if (CharactersAre(event, u"v")) {
      action = "paste:";
    } else if (CharactersAre(event, u"z")) {
      // Undo goes on to the inherited dispatch whether or not someone handled it.
      sendAction("undo:", nullptr, this);
      NSApplication::sendEvent(event);
      return;
    } else if (CharactersAre(event, u"a")) {
      action = "selectAll:";
    }
    if (!action.empty() && sendAction(action, nullptr, this)) {
      return;
    }
  } else if (modifiers == (NSEventModifierFlagCommand | NSEventModifierFlagShift) &&
             CharactersAre(event, u"z")) {
    if (sendAction("redo:", nullptr, this)) {
      return;
    }
  }
  NSApplication::sendEvent(event);
}

// ---------------------------------------------------------------------------------------------
// ZnApplicationDelegate.

void ZnApplicationDelegate::application_openFiles(NSApplication* /*application*/, NSArray* paths) {
  NSString* joined =
      paths == nullptr ? NSString::string() : paths->componentsJoinedByString(NSSTR(u"\t"));
  // Without the memory for the text the callback cannot be given the paths, and is not called.
  const char* text = objc_msgSend(joined, &NSString::UTF8String);
  if (open_files_callback != nullptr && text != nullptr) {
    open_files_callback(text);
  }
}

int64_t ZnApplicationDelegate::applicationShouldTerminate(NSApplication* /*application*/) {
  EventPostSimple(EventTypeMenu, MenuItemQuit, EventWindowApplication, EventSubtypeNone);
  return NSTerminateCancel;
}

void ZnApplicationDelegate::theadedAction(NSObject* /*object*/) {}

bool ZnApplicationDelegate::respondsToSelector(SEL selector) const {
  return selector == "application:openFiles:" || selector == "applicationShouldTerminate:" ||
         selector == "theadedAction:";
}

bool ZnApplicationDelegate::performAction(SEL selector, NSObject* argument) {
  if (selector == "theadedAction:") {
    theadedAction(argument);
    return true;
  }
  if (selector == "applicationShouldTerminate:") {
    applicationShouldTerminate(dynamic_cast<NSApplication*>(argument));
    return true;
  }
  return NSObject::performAction(selector, argument);
}

void ShellOpenFilesCallbackSet(OpenFilesRoutine callback) {
  open_files_callback = callback;
}

// ---------------------------------------------------------------------------------------------
// Start steps.

void ProcessStartup() {
  ProcessSerialNumber psn{};
  if (GetCurrentProcess(&psn) == noErr) {
    SetFrontProcess(&psn);
  }
}

void ApplicationStartup() {
  // Every object below may be nil when memory runs out; a start step reports nothing, so the
  // step does what it can and the sends to nil do nothing.
  application_pool = objc_alloc<NSAutoreleasePool>();
  // Without its pool the step cannot make the autoreleased objects of the defaults and the menu:
  // it makes the application alone, and the next start does the rest.
  if (application_pool != nullptr) {
    NSNumber* no = NSNumber::numberWithBool(false);
    NSString* key = NSSTR(u"NSFunctionBarAPIEnabled");
    NSDictionary* defaults =
        no == nullptr || key == nullptr ? nullptr : NSDictionary::dictionaryWithObject(no, key);
    objc_msgSend(NSUserDefaults::standardUserDefaults(), &NSUserDefaults::registerDefaults,
                 defaults);
  }
  if (ZnApplication::sharedApplication() == nullptr) {
    return;
  }
  // Another part of the platform may have set up the application already: then none of this.
  if (application_pool != nullptr && NSApp->delegate() == nullptr) {
    ApplicationMenusInstall();
  }
  NSApp->finishLaunching();
}

void ApplicationEnd() {
  internal::ApplicationObjectsRelease();
  NSApplicationRelease();
}

void ApplicationActivate() {
  objc_msgSend(NSApplication::sharedApplication(), &NSApplication::setActivationPolicy,
               NSApplicationActivationPolicyRegular);
}

void RecycleApplicationPool() {
  objc_release(application_pool);
  application_pool = objc_alloc<NSAutoreleasePool>();
}

NSAutoreleasePool* ApplicationPool() {
  return application_pool;
}

NSMenu* DefaultMenuBar() {
  return default_menu_bar;
}

ZnMenuDelegate* MenuDelegate() {
  return menu_delegate;
}

}  // namespace zn
