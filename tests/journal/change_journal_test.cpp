#include <orvane/change_journal.hpp>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include <filesystem>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;

ChangeSet sample(const std::string& subject, const std::string& state = "changing") {
  ChangeSet set = ChangeJournal::new_set("tuning", subject);
  set.state = state;
  set.items.push_back({"script", "threads", "4", "16", {{"set", "echo $value"}}});
  set.items.push_back({"script", "mode", "a\tb c", "x", Json::object()});
  return set;
}

TEST(ChangeJournal, UnsettledSetsComeBackOldestFirstAndWholeAfterWriting) {
  testing::TempDir tmp;
  ChangeJournal journal(tmp.path() / "state");
  const ChangeSet first = sample("one"), done = sample("two", "finished"),
                  applied = sample("three", "applied");
  for (const ChangeSet* s : {&applied, &done, &first}) journal.write(*s);

  const std::vector<ChangeSet> sets = journal.unsettled();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].subject, "one");
  EXPECT_EQ(sets[1].subject, "three");
  EXPECT_EQ(to_json(sets[0]), to_json(first));

  journal.remove(first.id);
  journal.remove(first.id);  // absent: no error
  EXPECT_EQ(journal.unsettled().size(), 1u);
  // Only the published files are left, private to the owner.
  for (const auto& e : fs::directory_iterator(journal.dir())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    EXPECT_EQ(fs::status(e.path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(fs::status(journal.dir()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(ChangeJournal, UntrustedStateIsRefused) {
  struct Case {
    const char* what;
    std::function<fs::path(const fs::path&)> plant;  // returns the state directory to open
    bool at_open;                                    // refused by the constructor
    const char* message;
  };
  const Case cases[] = {
      {"symlinked directory",
       [](const fs::path& d) {
         fs::create_directory(d / "real");
         fs::create_directory_symlink(d / "real", d / "state");
         return d / "state";
       },
       true, "symbolic link"},
      {"a file",
       [](const fs::path& d) {
         std::ofstream(d / "state") << "x";
         return d / "state";
       },
       true, "not a directory"},
      {"directory writable by others",
       [](const fs::path& d) {
         fs::create_directory(d / "state");
         fs::permissions(d / "state", fs::perms::all);
         return d / "state";
       },
       true, "writable by group or others"},
      {"directory of another user",
       [](const fs::path& d) {
         fs::create_directory(d / "state");
         if (::chown((d / "state").c_str(), ::geteuid() + 1, ::getegid()) != 0) return d;
         return d / "state";
       },
       true, "not owned by the user"},
      {"journal file writable by others",
       [](const fs::path& d) {
         ChangeJournal j(d / "state");
         const ChangeSet s = sample("p");
         j.write(s);
         fs::permissions(j.file_of(s.id), fs::perms::others_write, fs::perm_options::add);
         return d / "state";
       },
       false, "writable by group or others"},
      {"journal file that is a symlink",
       [](const fs::path& d) {
         ChangeJournal j(d / "state");
         std::ofstream(d / "elsewhere.json") << "{}";
         fs::create_symlink(d / "elsewhere.json", d / "state" / "x.json");
         return d / "state";
       },
       false, "x.json"},
      {"garbled journal file",
       [](const fs::path& d) {
         ChangeJournal j(d / "state");
         std::ofstream(d / "state" / "y.json") << "{\"id\": ";
         fs::permissions(d / "state" / "y.json", fs::perms::owner_read | fs::perms::owner_write);
         return d / "state";
       },
       false, "y.json cannot be read"},
  };
  for (const Case& c : cases) {
    testing::TempDir tmp;
    const fs::path dir = c.plant(tmp.path());
    if (dir == tmp.path()) continue;  // cannot be planted without root
    try {
      ChangeJournal journal(dir);
      ASSERT_FALSE(c.at_open) << c.what;
      journal.unsettled();
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const JournalError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

TEST(ChangeJournal, SecondLockOfAKeyIsRefusedNamingTheHolder) {
  testing::TempDir tmp;
  ChangeJournal journal(tmp.path());
  {
    JournalLock held = journal.lock("tuning:demo");
    EXPECT_TRUE(held.held());
    try {
      journal.lock("tuning:demo");
      ADD_FAILURE() << "second lock taken";
    } catch (const JournalError& e) {
      EXPECT_NE(std::string(e.what()).find("pid " + std::to_string(::getpid())), std::string::npos)
          << e.what();
    }
    EXPECT_TRUE(journal.lock("tuning:other/../x").held());
    EXPECT_TRUE(journal.lock("profile").held());
  }
  EXPECT_TRUE(journal.lock("tuning:demo").held());
}

TEST(ChangeJournal, RestoresLastItemFirstAndReportsKindsItCannotHandle) {
  std::vector<std::string> order;
  register_restorer("test-ok", [&](const ChangeItem& item) {
    order.push_back(item.name);
    return RestoreOutcome{RestoreOutcome::Status::restored, ""};
  });
  register_restorer("test-throws", [](const ChangeItem&) -> RestoreOutcome {
    throw std::runtime_error("script hung");
  });
  ChangeSet set = ChangeJournal::new_set("profile", "x");
  set.items = {{"test-ok", "a", "", "", {}},
               {"test-throws", "b", "", "", {}},
               {"unknown-kind", "c", "", "", {}},
               {"test-ok", "d", "", "", {}}};
  const auto outcomes = restore_change_set(set);
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(order, (std::vector<std::string>{"d", "a"}));
  EXPECT_EQ(outcomes[1].item->name, "c");
  EXPECT_EQ(outcomes[1].outcome.status, RestoreOutcome::Status::failed);
  EXPECT_NE(outcomes[1].outcome.message.find("unknown-kind"), std::string::npos);
  EXPECT_EQ(outcomes[2].outcome.message, "script hung");
  EXPECT_EQ(outcomes[3].outcome.status, RestoreOutcome::Status::restored);
}

TEST(ChangeJournal, StateDirectoryComesFromTheEnvironment) {
  ::setenv("ORVANE_STATE_DIR", "/tmp/somewhere", 1);
  EXPECT_EQ(ChangeJournal::default_dir(), "/tmp/somewhere");
  ::setenv("ORVANE_STATE_DIR", "", 1);
  EXPECT_EQ(ChangeJournal::default_dir(), "/var/lib/orvane");
  ::unsetenv("ORVANE_STATE_DIR");
}

}  // namespace
}  // namespace orvane
