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

}  // namespace

namespace internal {

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
  if (open_files_callback != nullptr) {
    open_files_callback(joined->UTF8String());
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
  application_pool = objc_alloc<NSAutoreleasePool>();
  NSUserDefaults::standardUserDefaults()->registerDefaults(NSDictionary::dictionaryWithObject(
      NSNumber::numberWithBool(false), NSSTR(u"NSFunctionBarAPIEnabled")));
  ZnApplication::sharedApplication();
  // Another part of the platform may have set up the application already: then none of this.
  if (NSApp->delegate() == nullptr) {
    menu_delegate = objc_alloc<ZnMenuDelegate>();
    default_menu_bar = BuildApplicationMenu();
    NSMenuItem* apple_item = ApplicationMenu().apple_menu_item;
    if (NSApp->mainMenu() != nullptr) {
      NSApp->mainMenu()->removeItem(apple_item);
    }
    default_menu_bar->insertItemAtIndex(apple_item, 0);
    NSApp->setMainMenu(default_menu_bar);
    menu_delegate->setWindowID(-1);
    application_delegate = objc_alloc<ZnApplicationDelegate>();
    NSApp->setDelegate(application_delegate);
  }
  NSApp->finishLaunching();
}

void ApplicationActivate() {
  NSApplication::sharedApplication()->setActivationPolicy(NSApplicationActivationPolicyRegular);
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
