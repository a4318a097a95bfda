// inventory: a small stock kept as a map of records, changed by a list of movements, then cleaned
// up by deleting items during a walk.
//
//   inventory
//
// It prints the stock after the movements, what the clean-up removed and the stock left, each
// item with its count, value and supplier, in key order.
//
// What it shows of the runtime's C++ face: a zn::Map of records that hold a zn::String and a
// std::string (values constructed and destroyed as C++ objects); a zn::List of changes appended
// to while it is walked; lookups, inserts and deletes inside a walk of the map, and erase_if;
// zn::format with widths, alignment and precision.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <zn/format.h>
#include <zn/list.h>
#include <zn/map.h>
#include <zn/runtime.h>
#include <zn/string.h>

namespace {

struct Item {
  int64_t count;
  double price;
  zn::String supplier;
  std::string note;
};

struct Change {
  zn::String key;
  int64_t delta;
};

void Print(const char* title, const zn::Map<Item>& items) {
  std::vector<std::u16string_view> keys;
  for (const auto& [key, item] : items) {
    keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  std::printf("%s\n", title);
  for (const std::u16string_view key : keys) {
    const Item& item = *items.find(key);
    const zn::String line =
        zn::format(u"  {:<8}{:>4}{:>10.2f}  {:<6}{}\n", key, item.count,
                   static_cast<double>(item.count) * item.price, item.supplier, item.note);
    std::fputs(line.to_utf8().c_str(), stdout);
  }
}

}  // namespace

int main() {
  zn::Runtime runtime;
  zn::Map<Item> items;
  items.insert_or_assign(u"bolt", Item{120, 0.05, u"ACME", "M6"});
  items.insert_or_assign(u"nut", Item{80, 0.03, u"ACME", "M6"});
  items.insert_or_assign(u"washer", Item{200, 0.01, u"Böhm", ""});
  items.insert_or_assign(u"hinge", Item{6, 4.2, u"Böhm", "brass"});
  items.insert_or_assign(u"spring", Item{15, 0.75, u"Żuk", ""});

  zn::List<Change> changes;
  changes.push_back({u"bolt", -120});
  changes.push_back({u"hinge", +2});
  changes.push_back({u"spring", -15});
  changes.push_back({u"latch", +8});
  for (Change& change : changes) {
    // A movement of an unknown item adds it; a new item is ordered in again (appended to the
    // list being walked, and applied in this same walk).
    auto [item, added] = items.try_emplace(change.key, Item{0, 1.5, u"Żuk", "new"});
    item->count += change.delta;
    if (added) {
      changes.push_back({change.key, +1});
    }
  }
  Print(zn::format(u"after {} movements:", changes.size()).to_utf8().c_str(), items);

  // The clean-up: sold-out items go, and so does any other item of their supplier that is
  // running low (a lookup and a delete of another element inside the walk).
  std::vector<zn::String> removed;
  for (auto it = items.begin(); it != items.end();) {
    if (it->second.count != 0) {
      ++it;
      continue;
    }
    const zn::String supplier = it->second.supplier;
    removed.emplace_back(it->first);
    it = items.erase(it);
    for (const char16_t* other : {u"hinge", u"nut", u"latch"}) {
      const Item* item = items.find(other);
      // The element the walk now stands on may go only through erase(it).
      const bool walk_is_on_it = it != items.end() && item == &it->second;
      if (item != nullptr && !walk_is_on_it && item->supplier == supplier && item->count < 10) {
        removed.emplace_back(other);
        items.erase(other);
      }
    }
  }
  std::sort(removed.begin(), removed.end());
  std::printf("removed %zu:", removed.size());
  for (const zn::String& key : removed) {
    std::printf(" %s", key.to_utf8().c_str());
  }
  std::printf("\n");
  erase_if(items, [](const auto& entry) { return entry.second.price * entry.second.count < 1.0; });
  Print("left worth 1.00 or more:", items);
  return 0;
}
