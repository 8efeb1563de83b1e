// Change items of a plan: building them, writing them, and putting them back.
#include <orvane/profile/apply.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <system_error>

#include <fmt/format.h>

#include <orvane/host_root.hpp>
#include <orvane/util.hpp>

namespace orvane::profile {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> read_if_exists(const fs::path& p) {
  std::error_code ec;
  if (!fs::exists(p, ec)) return std::nullopt;
  return read_file(p);
}

// /proc/sys and /sys files take one write of the value; a regular file (a test's fake tree) is
// truncated first so that it reads back as written.
void write_value(const std::string& system_path, const std::string& value) {
  const fs::path p = host_path(system_path);
  const int fd = ::open(p.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + p.string());
  const std::string data = value + "\n";
  const ssize_t n = ::write(fd, data.data(), data.size());
  const int err = errno;
  ::close(fd);
  if (n < 0) {
    throw std::system_error(err, std::generic_category(),
                            fmt::format("the kernel refused '{}' for {}", value, p.string()));
  }
}

void write_text(const ChangeItem& item, const std::string& path, bool original) {
  const bool existed = item.detail.value("existed", true);
  if (original && !existed) {
    std::error_code ec;
    if (fs::exists(path, ec)) fs::remove(path, ec);
    if (ec) throw std::system_error(ec, "cannot remove " + path);
    // Folders orvane created for the file go too, when nothing else was put in them.
    for (const auto& dir : item.detail.value("created_dirs", Json::array())) {
      fs::remove(dir.get<std::string>(), ec);
    }
    return;
  }
  if (!original) {
    const Json dirs = item.detail.value("created_dirs", Json::array());
    for (auto dir = dirs.rbegin(); dir != dirs.rend(); ++dir)
      fs::create_directory(dir->get<std::string>());
  }
  AtomicFile file(path);
  file.keep_attributes_of(path);
  file.write(original ? item.original : item.applied);
  file.commit();
}

std::map<std::string, KindHandler, std::less<>>& handlers() {
  static std::map<std::string, KindHandler, std::less<>> table;
  return table;
}

}  // namespace

void register_kind_handler(const std::string& kind, KindHandler handler) {
  handlers().insert_or_assign(kind, std::move(handler));
}

const KindHandler* find_kind_handler(std::string_view kind) {
  const auto it = handlers().find(kind);
  return it == handlers().end() ? nullptr : &it->second;
}

std::vector<ChangeItem> change_items(const Plan& plan) {
  std::vector<ChangeItem> items;
  std::map<std::string, size_t> file_item;  // path -> index in items
  std::map<std::string, std::unique_ptr<ConfigText>> texts;
  auto edit = [&](const FileEdit& e) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(e.path, ec);
    const std::string path = (ec ? e.path : real).string();
    if (!file_item.contains(path)) {
      ChangeItem item;
      item.kind = "file";
      item.name = path;
      const auto text = read_if_exists(path);
      item.original = text.value_or("");
      item.detail["path"] = path;
      item.detail["existed"] = text.has_value();
      Json created = Json::array();
      std::vector<std::string> dirs;
      for (fs::path d = fs::path(path).parent_path(); !d.empty() && !fs::exists(d, ec);
           d = d.parent_path()) {
        dirs.insert(dirs.begin(), d.string());
      }
      // Deepest first, the order in which they are removed again.
      for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) created.push_back(*it);
      if (!created.empty()) item.detail["created_dirs"] = created;
      try {
        texts[path] = ConfigText::open(e.format, item.original);
      } catch (const ConfigParseError& err) {
        throw PlanError(
            fmt::format("{}: {}: the file does not parse; nothing was changed", path, err.what()));
      }
      file_item[path] = items.size();
      items.push_back(std::move(item));
    }
    ConfigText& text = *texts[path];
    text.set(e.key, e.value);
    if (text.get(e.key) != e.value) {
      throw PlanError(fmt::format("{}: {} could not be set to {}", path, e.key.name, e.value));
    }
    items[file_item[path]].applied = text.text();
  };

  std::vector<FileEdit> persisted;
  for (const PlanItem& p : plan.items) {
    if (p.status != PlanItem::Status::change) continue;
    if (const KindHandler* h = find_kind_handler(p.kind)) {
      for (ChangeItem item : h->items(p)) {
        item.detail["setting_kind"] = p.kind;
        items.push_back(std::move(item));
      }
      continue;
    }
    for (const std::string& path : p.paths) {
      ChangeItem item;
      item.kind = p.kind;  // sysctl or sysfs
      item.name = p.kind == "sysctl" ? p.setting : path;
      item.original = read_system_value(path);
      item.applied = p.wanted;
      item.detail["path"] = path;
      items.push_back(std::move(item));
    }
    for (const FileEdit& e : p.edits) edit(e);
    if (p.kind == "sysctl" && p.persist) {
      persisted.push_back({host_path(kSysctlFile), "ini", {"", p.setting, "", {}}, p.wanted});
    }
  }
  for (const FileEdit& e : persisted) edit(e);
  return items;
}

void write_item(const ChangeItem& item, bool original) {
  if (const auto kind = item.detail.find("setting_kind"); kind != item.detail.end()) {
    const KindHandler* h = find_kind_handler(kind->get<std::string>());
    if (h == nullptr)
      throw std::runtime_error("no handler for settings of kind " + kind->get<std::string>());
    return h->write(item, original);
  }
  const std::string path = item.detail.at("path").get<std::string>();
  const std::string& want = original ? item.original : item.applied;
  if (item.kind == "sysctl" || item.kind == "sysfs") {
    write_value(path, want);
    const std::string now = read_system_value(path);
    if (!value_holds(now, want, false)) {
      throw std::runtime_error(
          fmt::format("{} reads '{}' after writing '{}'", item.name, now, want));
    }
    return;
  }
  if (item.kind != "file") throw std::runtime_error("not a profile change: " + item.kind);
  write_text(item, path, original);
  const auto now = read_if_exists(path);
  const bool gone_as_wanted = original && !item.detail.value("existed", true) && !now;
  if (!gone_as_wanted && now != want) {
    throw std::runtime_error(fmt::format("{} does not hold what was written", path));
  }
}

RestoreOutcome restore_item(const ChangeItem& item) {
  using Status = RestoreOutcome::Status;
  try {
    if (item.kind == "file") {
      const std::string path = item.detail.at("path").get<std::string>();
      const bool existed = item.detail.value("existed", true);
      const auto now = read_if_exists(path);
      const bool as_left =
          now ? (*now == item.applied || (existed && *now == item.original)) : !existed;
      if (!as_left) {
        if (!existed) {
          return {Status::set_aside,
                  fmt::format("{} was created by orvane and changed since; left as it is", path)};
        }
        const std::string beside = path + ".orvane-orig";
        AtomicFile copy(beside);
        copy.keep_attributes_of(path);
        copy.write(item.original);
        copy.commit();
        return {Status::set_aside,
                fmt::format(
                    "{} was changed after orvane edited it; left as it is, its original is in {}",
                    path, beside)};
      }
    }
    write_item(item, true);
    return {Status::restored, fmt::format("{}: put back", item.name)};
  } catch (const std::exception& e) {
    return {Status::failed, fmt::format("{}: {}", item.name, e.what())};
  }
}

}  // namespace orvane::profile
