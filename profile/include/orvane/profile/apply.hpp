#pragma once
// A plan as change-journal items, and writing, reading back and restoring each kind of item.
#include <functional>
#include <string_view>
#include <vector>

#include <orvane/change_journal.hpp>

#include <orvane/profile/plan.hpp>

namespace orvane::profile {

// How the engine plans, applies and reads back a kind of setting it does not know itself
// (`orvane apply` adds "script"). The engine fills each plan item's name, wanted value, effect,
// reason and reference, and decides from `current` whether it holds.
struct KindHandler {
  // Sets item.current, or item.status skipped with item.note; may fill item.detail.
  std::function<void(const settings::Setting&, PlanItem& item)> plan;
  // The journal items of a planned change; their kinds need restorers of the journal.
  std::function<std::vector<ChangeItem>(const PlanItem&)> items;
  // Writes an item's applied value (or its original) and reads it back; throws on failure.
  std::function<void(const ChangeItem&, bool original)> write;
};
// Adds or replaces the handler of a setting kind (registered in the settings format too).
void register_kind_handler(const std::string& kind, KindHandler handler);
const KindHandler* find_kind_handler(std::string_view kind);

// The items that apply the plan's changes, in plan order: one per /proc/sys or /sys file, one
// per edited file (all its keys at once, at the place of its first setting), and last the sysctl
// file for the next boot. Every original is read now. Throws PlanError.
std::vector<ChangeItem> change_items(const Plan& plan);

// Writes the item's applied value (or its original) and reads it back; throws
// std::runtime_error naming the target when writing fails or the value read back differs.
void write_item(const ChangeItem& item, bool original);

// The restorer of every profile kind. A file that holds neither what orvane wrote nor the
// original was edited by someone else: it is left as it is, its original goes beside it as
// NAME.orvane-orig, and the item is set aside.
RestoreOutcome restore_item(const ChangeItem& item);

}  // namespace orvane::profile
