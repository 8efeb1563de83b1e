#pragma once
// A plan as change-journal items, and writing, reading back and restoring each kind of item.
#include <vector>

#include <orvane/change_journal.hpp>

#include "plan.hpp"

namespace orvane::profile {

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
