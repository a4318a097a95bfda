// The application shell: the process as a regular application of the desktop platform.
//
// Three parts share the library:
//   - the application object (`ZnApplication`), its delegate and activation: the Quit command and
//     the platform's request to terminate become menu events of the runtime's queue, and the
//     standard editing keys are sent along the responder chain;
//   - the application menu, built once, and the program menus of the `MenuRegistry`, whose
//     commands become menu events (type 1);
//   - the windows of the `WindowRegistry`, freed in a fixed order that hands the key focus on, and
//     the gadget lists (`ZnGadgetList`) that give new gadgets their container view and window.
//
// The gadget library sits above this one: it asks the gadget lists and the window lookups here,
// and hands `WindowFree` its per-window free routine through `WindowGadgetsFreeSet`, so that the
// libraries link in one direction only.
//
// Late-bound seams. It calls the window's gadget release (`WindowGadgetsFree`), which the gadget
// library fills at its start through `WindowGadgetsFreeSet`. It fills the free callbacks of its
// registries (`MenuFree`, `WindowFree`), which the container library calls.
#pragma once

#include <cstdint>

#include "runtime/containers/containers.h"
#include "system/desktop/application.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

// ---------------------------------------------------------------------------------------------
// The application object, its delegate and activation.

// ZnApplication: the shared application. Key downs with Command and x, c, v, z or a (and
// Command-Shift-z) are sent as editing actions along the responder chain; everything else goes to
// the inherited dispatch.
class ZnApplication : public desktop::NSApplication {
 public:
  const char* className() const override { return "ZnApplication"; }
  // sharedApplication: NSApp, made a ZnApplication when there is none yet.
  static desktop::NSApplication* sharedApplication();
  void sendEvent(desktop::NSEvent* event) override;
};

// ZnApplicationDelegate: answers the platform's requests to terminate and to open files.
class ZnApplicationDelegate : public desktop::NSObject {
 public:
  const char* className() const override { return "ZnApplicationDelegate"; }
  // application:openFiles: the paths joined by tabs, as UTF-8, to the OpenFilesCallback if set.
  void application_openFiles(desktop::NSApplication* application, desktop::NSArray* paths);
  // applicationShouldTerminate: posts the Quit menu event (1, -4, -1, 0); always cancels.
  int64_t applicationShouldTerminate(desktop::NSApplication* application);
  // theadedAction: does nothing.
  void theadedAction(desktop::NSObject* object);
  bool respondsToSelector(desktop::SEL selector) const override;
  bool performAction(desktop::SEL selector, desktop::NSObject* argument) override;
};

// OpenFilesCallback: takes the opened paths as one tab-separated UTF-8 text.
using OpenFilesRoutine = void (*)(const char* paths);
// ShellOpenFilesCallbackSet: sets the OpenFilesCallback (null at load; nothing in the runtime
// sets it).
void ShellOpenFilesCallbackSet(OpenFilesRoutine callback);

// ProcessStartup: start step 1. Makes the process the front process when its serial number is
// known.
void ProcessStartup();

// ApplicationStartup: start step 2. Creates the ApplicationPool, registers the defaults, makes
// the shared application a ZnApplication and, unless it already has a delegate, installs the
// application menu, the MenuDelegate and the application delegate; finishes launching. When
// memory runs out the menu and both delegates are installed all together or not at all (the
// next start tries again), and without a shared application nothing after it is done.
void ApplicationStartup();

// ApplicationEnd: the shell's end step. Releases what the start step made (the pool, the
// delegates, the default menu bar, the application menu) and the desktop's shared application
// with its defaults, bundle and screen; ApplicationStartup starts it all again.
void ApplicationEnd();

// ApplicationActivate: the regular activation policy for the shared application (part of the
// window start step).
void ApplicationActivate();

// RecycleApplicationPool: releases the ApplicationPool and creates a new one in its place.
void RecycleApplicationPool();

// The process-wide objects of the shell, null until the start step made them.
desktop::NSAutoreleasePool* ApplicationPool();
desktop::NSMenu* DefaultMenuBar();

// ---------------------------------------------------------------------------------------------
// The application menu and menu objects.

// ZnMenuDelegate: target of the Quit item and of program menu items. `WindowID` is the window
// whose menu bar is shown, -1 for none.
class ZnMenuDelegate : public desktop::NSObject {
 public:
  const char* className() const override { return "ZnMenuDelegate"; }
  // setWindowID: the window whose menu bar this delegate serves.
  void setWindowID(int64_t window) { WindowID = window; }
  // preferences:, about:, terminate: post menu events with objects -2, -3 and -4.
  void preferences(desktop::NSObject* sender);
  void about(desktop::NSObject* sender);
  void terminate(desktop::NSObject* sender);
  // eventHandler: the action of program menu items: posts the item's tag as a menu event,
  // unless its window blocks menu events.
  void eventHandler(desktop::NSMenuItem* item);
  bool respondsToSelector(desktop::SEL selector) const override;
  bool performAction(desktop::SEL selector, desktop::NSObject* argument) override;

  int64_t WindowID = 0;
};

// MenuRecord: a program menu of the MenuRegistry, as far as the runtime reads it. The three
// objects and the menu bar are owned by the record.
struct MenuRecord {
  desktop::NSObject* first;  // live while not null
  desktop::NSObject* second;
  desktop::NSObject* third;
  int32_t reserved;
  int32_t menu_bar_skip;  // non-zero: never shown as its window's menu bar
  desktop::NSWindow* owner_window;
  desktop::NSMenu* menu_bar;
};
static_assert(sizeof(MenuRecord) == 48, "a menu record is six words");

// ZnMenuObject: the represented object of a program menu item; `Menu` is its menu's record.
class ZnMenuObject : public desktop::NSObject {
 public:
  const char* className() const override { return "ZnMenuObject"; }
  // initWithMenu: records the menu; returns this object.
  ZnMenuObject* initWithMenu(MenuRecord* menu) {
    Menu = menu;
    return this;
  }
  MenuRecord* Menu = nullptr;
};

// The application menu and its standing items, null until the first BuildApplicationMenu.
struct ApplicationMenuItems {
  desktop::NSMenu* application_menu;
  desktop::NSMenu* services_menu;
  desktop::NSMenuItem* apple_menu_item;
  desktop::NSMenuItem* about_item;
  desktop::NSMenuItem* preferences_item;
  desktop::NSMenuItem* quit_item;
};
// ApplicationMenu: the application menu and its standing items.
ApplicationMenuItems ApplicationMenu();

// MenuDelegate: the shell's ZnMenuDelegate, null until the application start step made it.
ZnMenuDelegate* MenuDelegate();

// BuildApplicationMenu: a new, empty menu bar (the caller's); the first call also builds the
// application menu with its eleven entries under the executable's name. Nil when memory runs
// out: then no application menu is left half built, and the next call builds it whole.
desktop::NSMenu* BuildApplicationMenu();

// InstallMenuBar: moves the application menu's item to index 0 of the menu bar, makes it the main
// menu and records the window id in the MenuDelegate. When the menu bar has no room for the item
// nothing changes: the item stays in the main menu, which stays the main menu.
void InstallMenuBar(desktop::NSMenu* menu_bar, int64_t window);

// MenuStartup: start step 16; creates the MenuRegistry and the menus' thread slot.
void MenuStartup();
// MenuEnd: end step 2; frees every program menu, the MenuRegistry and the thread slot
// (MenuStartup makes them again).
void MenuEnd();

// MenuRegistry: the program menus (null before MenuStartup and after MenuEnd).
ObjectRegistry* MenuRegistry();
// MenuThreadSlot: the menus' per-thread data, two zeroed 64-bit words (null before MenuStartup
// and after MenuEnd). The block lives until the library ends; this slot is its one holder.
ThreadSlot MenuThreadSlot();

// MenuFree: frees a program menu (-1: all), bringing back the DefaultMenuBar when its menu bar is
// showing. The registry's free callback; unknown ids are ignored.
void MenuFree(int64_t menu);
// MenuFreeForWindow: frees the first program menu of the window, if any.
void MenuFreeForWindow(desktop::NSWindow* window);
// ShowMenuBarOfWindow: installs the menu bar of the window's first menu that may be shown.
void ShowMenuBarOfWindow(desktop::NSWindow* window);
// MenuFreeAll: frees every program menu.
void MenuFreeAll();

// ---------------------------------------------------------------------------------------------
// Windows and the gadget list.

// WindowRecord: a window of the WindowRegistry, as far as the runtime reads it.
struct WindowRecord {
  desktop::NSWindow* window;  // live while not null
  int64_t reserved[4];
  int64_t menu_events_blocked;
  desktop::NSWindow* parent;  // takes the key focus back when this window closes with it
};
static_assert(sizeof(WindowRecord) == 56, "a window record is seven words");

// Zn_NSFlippedView: a view whose coordinates run from the top left corner downward.
class Zn_NSFlippedView : public desktop::NSView {
 public:
  const char* className() const override { return "Zn_NSFlippedView"; }
  // isFlipped: always true.
  bool isFlipped() const override { return true; }
};

// ZnGadgetList: the stack of container views into which a window's new gadgets go.
class ZnGadgetList : public desktop::NSObject {
 public:
  const char* className() const override { return "ZnGadgetList"; }
  // initWithWindow: the window's content view on top (a new flipped one when it has none), and
  // room for ten saved views; nil (the object released) when the flipped view cannot be made.
  ZnGadgetList* initWithWindow(desktop::NSWindow* window);
  // finalize: frees the saved views' stack.
  void finalize();
  // window, top, stackIndex: the list's window, its top view, the number of saved views.
  desktop::NSWindow* window() const { return TopWindow; }
  desktop::NSView* top() const { return TopView; }
  int32_t stackIndex() const { return StackIndex; }
  // push: saves the top view and makes the given one (nil allowed) the top; the stack grows by
  // ten entries when full (and stays as it is when the heap refuses).
  void push(desktop::NSView* view);
  void pushNoView() { push(nullptr); }
  // set: makes the view the top one without saving the current top.
  void set(desktop::NSView* view) { TopView = view; }
  // pop: brings back the last saved view; on an empty stack, the window's content view.
  void pop();

  // The current list, and the top view and window of it (nil without one).
  static ZnGadgetList* currentList();
  static desktop::NSView* currentView();
  static desktop::NSWindow* currentWindow();
  // listFromWindow: the first list of the window, or nil.
  static ZnGadgetList* listFromWindow(desktop::NSWindow* window);
  // setWindow: makes the window's list current (creating it), returning the window that was
  // current; nil changes nothing, and so does a list that cannot be made for want of memory
  // (the window keeps no content view of it either).
  static desktop::NSWindow* setWindow(desktop::NSWindow* window);
  // removeWindow: forgets the window's list (and the current list when it was that one).
  static void removeWindow(desktop::NSWindow* window);

  desktop::NSWindow* TopWindow = nullptr;
  desktop::NSView* TopView = nullptr;
  desktop::NSView** Views = nullptr;
  int32_t StackSize = 0;
  int32_t StackIndex = 0;

 protected:
  void dealloc() override;
};

// WindowStartup: start step 15; creates the WindowRegistry and the windows' thread slot, and
// activates the application.
void WindowStartup();
// WindowEnd: end step 3; frees every window, the WindowRegistry and the thread slot with every
// gadget list (WindowStartup makes them again).
void WindowEnd();

// WindowRegistry: the windows (null before WindowStartup and after WindowEnd).
ObjectRegistry* WindowRegistry();

// WindowGadgetsFree: frees every gadget of a window.
using WindowGadgetsFree = void (*)(int64_t window);
// WindowGadgetsFreeSet: the routine WindowFree calls for the window's gadgets (the gadget
// library sets it at its start).
void WindowGadgetsFreeSet(WindowGadgetsFree routine);

// WindowFree: the registry's free callback; -1 frees every window. In this order: the window's
// bindings, its gadgets, the choice of the window to receive the key focus, its first menu, its
// detachment from its parent, its gadget list, closing it, its queued events, the key focus.
// The record is released last, so that a freed window is never freed twice.
void WindowFree(int64_t window);

// WindowRecordOf: the live record (checked against the registry), or null.
WindowRecord* WindowRecordOf(int64_t window);
// WindowPlatformWindowOf: the record's platform window, or nil.
desktop::NSWindow* WindowPlatformWindowOf(int64_t window);
// WindowIdOf: the id the window's delegate reports (windowID), or -1.
int64_t WindowIdOf(desktop::NSWindow* window);
// WindowBlocksMenuEvents: 1 when the window is known and blocks menu events, else 0.
int32_t WindowBlocksMenuEvents(desktop::NSWindow* window);

}  // namespace zn
