// Profile runs on a fake host (ORVANE_ROOT) with the packages' own configuration files: plan,
// answer, apply, verify, undo; checked byte for byte and by the servers' own option checks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include <orvane/change_journal.hpp>
#include <orvane/config.hpp>
#include <orvane/process.hpp>
#include <orvane/profile.hpp>
#include <orvane/util.hpp>

#include <orvane/profile/apply.hpp>
#include <orvane/profile/config_text.hpp>
#include <orvane/profile/plan.hpp>
#include "../support/temp_dir.hpp"

namespace orvane::profile {
namespace {

namespace fs = std::filesystem;

const char* const kKafkaProperties =
    "# Licensed to the Apache Software Foundation (ASF)\n"
    "broker.id=0\n"
    "num.network.threads=3\n"
    "num.io.threads=8\n"
    "socket.send.buffer.bytes=102400\n"
    "socket.receive.buffer.bytes=102400\n"
    "log.dirs=/tmp/kafka-logs\n"
    "num.partitions=1\n"
    "num.recovery.threads.per.data.dir=1\n";

const char* const kDmIni =
    "#DaMeng Database Server Configuration file\n"
    "\t\tINSTANCE_NAME                   = DMSERVER\n"
    "\t\tMEMORY_POOL                     = 500                   #Memory Pool Size In Megabyte\n"
    "\t\tBUFFER                          = 1000                  #Initial System Buffer Size In "
    "Megabytes\n"
    "\t\tMAX_BUFFER                      = 1000                  #Maximum System Buffer Size In "
    "Megabytes\n"
    "\t\tWORKER_THREADS                  = 16                    #Number Of Worker Threads\n";

// A host with 8 GiB, 4 CPUs, one SSD, and the kernel values and units the profiles touch.
void make_host(const fs::path& root) {
  auto put = [&](const std::string& path, const std::string& text) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text;
  };
  put("proc/meminfo", "MemTotal:        8388608 kB\nMemFree:  100 kB\n");
  put("sys/devices/system/cpu/online", "0-3\n");
  put("sys/block/sda/queue/rotational", "0\n");
  put("sys/block/sda/queue/scheduler", "[mq-deadline] none\n");
  put("sys/block/loop0/queue/rotational", "1\n");
  put("sys/kernel/mm/transparent_hugepage/enabled", "always [madvise] never\n");
  for (int c = 0; c < 4; ++c) {
    const std::string dir = "sys/devices/system/cpu/cpu" + std::to_string(c) + "/cpufreq/";
    put(dir + "scaling_governor", "powersave\n");
    put(dir + "scaling_available_governors", "performance powersave\n");
  }
  for (const auto& [key, value] :
       std::map<std::string, std::string>{{"vm/swappiness", "60"},
                                          {"vm/max_map_count", "65530"},
                                          {"vm/dirty_background_ratio", "10"},
                                          {"vm/dirty_ratio", "20"},
                                          {"net/core/rmem_max", "212992"},
                                          {"net/core/wmem_max", "212992"},
                                          {"net/core/somaxconn", "4096"},
                                          {"net/core/netdev_max_backlog", "1000"},
                                          {"net/ipv4/tcp_max_syn_backlog", "512"},
                                          {"net/ipv4/ip_local_port_range", "32768\t60999"},
                                          {"net/ipv4/tcp_fin_timeout", "60"},
                                          {"net/ipv4/tcp_tw_reuse", "2"},
                                          {"fs/file-max", "9223372036854775807"}}) {
    put("proc/sys/" + key, value + "\n");
  }
  put("etc/passwd", "root:x:0:0::/root:/bin/sh\ndmdba:x:1001:1001::/home/dmdba:/bin/sh\n");
  put("etc/security/limits.conf", "# defaults\n*               soft    core            0\n");
  put("lib/systemd/system/mariadb.service", "[Service]\nUser=mysql\nLimitNOFILE=32768\n");
  for (const char* unit : {"kafka", "nginx", "trafficserver"}) {
    put(std::string("lib/systemd/system/") + unit + ".service", "[Service]\nExecStart=/bin/true\n");
  }
}

// Every file and folder of a tree: content and mode; /proc and /sys files by the value they give.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = e.path().lexically_relative(dir).string();
    if (rel.starts_with("state") || rel.starts_with("out") || rel.starts_with("ats-check"))
      continue;
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string value = std::to_string(st.st_mode) + ":";
    if (e.is_regular_file()) {
      const std::string text = read_file(e.path());
      value +=
          rel.starts_with("host/proc") || rel.starts_with("host/sys") ? sysfs_choice(text) : text;
    }
    out[rel] = value;
  }
  return out;
}

struct Scene {
  const char* name;
  const char* package_dir;  // copied as the configuration directory; "" for a sample file
  const char* sample_name;
  const char* sample;
  // The server's own check of the edited directory; "" when it passes.
  std::string (*check)(const fs::path& conf);
};

std::string run_check(const std::vector<std::string>& argv, const std::string& must_not_contain) {
  const ProcessResult r = run_process(argv, {.timeout = std::chrono::seconds(60)});
  const std::string all = r.out + r.err;
  if (r.status != 0 ||
      (!must_not_contain.empty() && all.find(must_not_contain) != std::string::npos)) {
    return "status " + std::to_string(r.status) + ": " + all.substr(0, 2000);
  }
  return "";
}

const Scene kScenes[] = {
    {"mysql_config", "/etc/mysql", "", "",
     [](const fs::path& conf) {
       // Unknown options make it fail; malformed values are reported as [ERROR] lines.
       return run_check({"/usr/sbin/mariadbd",
                         "--defaults-file=" + (conf / "mariadb.conf.d/50-server.cnf").string(),
                         "--help", "--verbose"},
                        "[ERROR]");
     }},
    {"specweb_config", "/etc/nginx", "", "",
     [](const fs::path& conf) {
       return run_check(
           {"/usr/sbin/nginx", "-t", "-q", "-e", "stderr", "-c", (conf / "nginx.conf").string()},
           "");
     }},
    {"ats_config", "/etc/trafficserver", "", "",
     [](const fs::path& conf) {
       // The server reads the copy through a run root of its own and logs there, not in the
       // host's /var/log. It drops root for its own user, who can read the copy (see conf_dir).
       const fs::path run = conf.parent_path().parent_path() / "ats-check";
       fs::create_directories(run / "logs");
       std::ofstream(run / "runroot.yaml")
           << "prefix: /usr\nexec_prefix: /usr\nbindir: /usr/bin\nsbindir: /usr/sbin\n"
           << "datadir: /usr/share/trafficserver\nincludedir: /usr/include\n"
           << "libdir: /usr/lib/trafficserver\nlibexecdir: /usr/lib/trafficserver/modules\n"
           << "sysconfdir: " << conf.string() << "\nlocalstatedir: " << (run / "logs").string()
           << "\nruntimedir: " << (run / "logs").string() << "\nlogdir: " << (run / "logs").string()
           << "\ncachedir: " << (run / "logs").string() << "\n";
       fs::permissions(run / "logs", fs::perms::all | fs::perms::sticky_bit);
       const std::string r =
           run_check({"/usr/bin/traffic_server", "--run-root=" + (run / "runroot.yaml").string(),
                      "-C", "verify_config", "-D", conf.string()},
                     "ERROR");
       if (!r.empty()) return r;
       const std::string diags = read_file(run / "logs/diags.log");
       if (diags.find("Could not parse") != std::string::npos ||
           diags.find("ERROR") != std::string::npos ||
           diags.find("(throttle)") == std::string::npos) {
         return diags;
       }
       return std::string();
     }},
    {"kafka_config", "", "config/server.properties", kKafkaProperties,
     [](const fs::path& conf) {
       ConfigText::open("properties", read_file(conf / "config/server.properties"));
       return std::string();
     }},
    {"dm_config", "", "data/DAMENG/dm.ini", kDmIni,
     [](const fs::path& conf) {
       ConfigText::open("ini", read_file(conf / "data/DAMENG/dm.ini"));
       return std::string();
     }},
};

class ProfileRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.path() / "host";
    make_host(root_);
    ::setenv("ORVANE_ROOT", root_.c_str(), 1);
    ::setenv("ORVANE_STATE_DIR", (tmp_.path() / "state").c_str(), 1);
    Config::set_inst_path(ORVANE_TEST_SHARE_DIR);
    Config::set_out_path((tmp_.path() / "out").string());
    register_profile_restorers();
  }
  void TearDown() override {
    ::unsetenv("ORVANE_ROOT");
    ::unsetenv("ORVANE_STATE_DIR");
    Config::set_inst_path("");
    Config::set_out_path("");
  }

  // The scene's configuration directory; empty when its package is not installed.
  fs::path conf_dir(const Scene& s) {
    const fs::path conf = tmp_.path() / "conf" / s.name;
    if (*s.package_dir) {
      if (!fs::is_directory(s.package_dir)) return {};
      fs::create_directories(conf.parent_path());
      fs::copy(s.package_dir, conf, fs::copy_options::recursive);  // symlinks followed
      // Readable by the servers' own users, as the package's files are.
      fs::permissions(tmp_.path(), fs::perms::others_exec, fs::perm_options::add);
      fs::permissions(conf.parent_path(), fs::perms::others_exec, fs::perm_options::add);
      for (const auto& e : fs::recursive_directory_iterator(conf)) {
        if (e.is_directory())
          fs::permissions(e.path(), fs::perms::others_exec, fs::perm_options::add);
      }
    } else {
      tmp_.write(std::string("conf/") + s.name + "/" + s.sample_name, s.sample);
    }
    return conf;
  }

  int run(const std::string& scene, const fs::path& conf, const std::string& answer) {
    std::istringstream in(answer);
    out_.str("");
    err_.str("");
    return run_scene(scene, conf, in, out_, err_);
  }

  std::vector<ChangeSet> unsettled() { return ChangeJournal().unsettled(); }

  testing::TempDir tmp_;
  fs::path root_;
  std::ostringstream out_, err_;
};

TEST_F(ProfileRun, EverySceneAppliesPassesTheServersCheckAndIsUndoneExactly) {
  for (const Scene& s : kScenes) {
    SCOPED_TRACE(s.name);
    const fs::path conf = conf_dir(s);
    if (conf.empty()) {
      ADD_FAILURE() << s.package_dir << " is missing: install the workload's Debian package";
      continue;
    }
    const auto before = snapshot(tmp_.path());
    ASSERT_EQ(run(s.name, conf, "y\n"), 0) << out_.str() << err_.str();
    EXPECT_NE(snapshot(tmp_.path()), before);
    EXPECT_EQ(s.check(conf), "");
    // Applying it again finds everything in place.
    ASSERT_EQ(run(s.name, conf, ""), 0) << err_.str();
    EXPECT_NE(out_.str().find("Nothing to change"), std::string::npos) << out_.str();

    const auto sets = unsettled();
    ASSERT_EQ(sets.size(), 1u);
    for (const auto& o : restore_change_set(sets.back())) {
      EXPECT_EQ(o.outcome.status, RestoreOutcome::Status::restored) << o.outcome.message;
    }
    ChangeSet done = sets.back();
    done.state = "finished";
    ChangeJournal().write(done);
    EXPECT_EQ(snapshot(tmp_.path()), before);
  }
}

TEST_F(ProfileRun, AnswersOtherThanYesChangeNothing) {
  const fs::path conf = conf_dir(kScenes[3]);
  const auto before = snapshot(tmp_.path());
  const std::pair<const char*, int> answers[] = {
      {"n\n", 0}, {"maybe\nN\n", 0}, {"", 1}, {"yes\n", 1}};
  for (const auto& [answer, status] : answers) {
    EXPECT_EQ(run("kafka_config", conf, answer), status) << answer;
    EXPECT_EQ(snapshot(tmp_.path()), before) << answer;
    EXPECT_TRUE(unsettled().empty());
  }
  EXPECT_FALSE(fs::is_empty(tmp_.path() / "out/orvaneData"));
}

TEST_F(ProfileRun, RefusesAnotherSceneWhileOneIsActive) {
  const fs::path kafka = conf_dir(kScenes[3]);
  const fs::path dm = conf_dir(kScenes[4]);
  ASSERT_EQ(run("kafka_config", kafka, "y\n"), 0) << err_.str();
  const auto before = snapshot(tmp_.path());
  EXPECT_EQ(run("dm_config", dm, "y\n"), 1);
  EXPECT_NE(err_.str().find("the profile kafka_config is active"), std::string::npos) << err_.str();
  EXPECT_EQ(snapshot(tmp_.path()), before);
}

TEST_F(ProfileRun, RefusesAMissingOrUnparsableFileBeforeAnyChange) {
  const auto before = snapshot(tmp_.path());
  const fs::path empty = tmp_.path() / "empty";
  fs::create_directories(empty);
  EXPECT_EQ(run("kafka_config", empty, "y\n"), 1);
  EXPECT_EQ(err_.str(), "orvane: no server.properties in " + empty.string() + ", " +
                            empty.string() + "/config or " + empty.string() +
                            "/config/kraft: is this a Kafka configuration directory?\n");
  tmp_.write("bad/records.config", "CONFIG a INT 1\nCONFIG broken\n");
  EXPECT_EQ(run("ats_config", tmp_.path() / "bad", "y\n"), 1);
  EXPECT_NE(err_.str().find("records.config: line 2:"), std::string::npos) << err_.str();
  EXPECT_TRUE(unsettled().empty());
}

TEST_F(ProfileRun, AFailedWriteUndoesEverythingAppliedBefore) {
  const fs::path mysql = conf_dir(kScenes[0]);
  if (mysql.empty()) GTEST_SKIP() << "no /etc/mysql";
  // The service's drop-in folder is a file: the drop-in, planned after the option file's
  // edits, cannot be written.
  tmp_.write("host/etc/systemd/system/mariadb.service.d", "");
  const auto before = snapshot(tmp_.path());
  EXPECT_EQ(run("mysql_config", mysql, "y\n"), 1);
  EXPECT_NE(err_.str().find("put back and verified"), std::string::npos) << err_.str();
  EXPECT_EQ(snapshot(tmp_.path()), before);
  EXPECT_TRUE(unsettled().empty());
}

TEST_F(ProfileRun, AFileEditedSinceIsSetAsideWithItsOriginalBeside) {
  const fs::path conf = conf_dir(kScenes[3]);
  const fs::path props = conf / "config/server.properties";
  ASSERT_EQ(run("kafka_config", conf, "y\n"), 0) << err_.str();
  std::ofstream(props, std::ios::app) << "added.by.admin=1\n";
  const std::string edited = read_file(props);
  const auto sets = unsettled();
  ASSERT_EQ(sets.size(), 1u);
  size_t set_aside = 0;
  for (const auto& o : restore_change_set(sets.back())) {
    if (o.outcome.status == RestoreOutcome::Status::set_aside) {
      ++set_aside;
      EXPECT_NE(o.outcome.message.find(props.string() + ".orvane-orig"), std::string::npos);
    } else {
      EXPECT_EQ(o.outcome.status, RestoreOutcome::Status::restored) << o.outcome.message;
    }
  }
  EXPECT_EQ(set_aside, 1u);
  EXPECT_EQ(read_file(props), edited);
  EXPECT_EQ(read_file(props.string() + ".orvane-orig"), kKafkaProperties);
  EXPECT_EQ(read_file(root_ / "proc/sys/vm/swappiness"), "60\n");
}

}  // namespace
}  // namespace orvane::profile

namespace orvane::profile {
namespace {

// A kind from another module, as `orvane apply` adds its scripts: format, plan, apply, restore.
TEST_F(ProfileRun, AKindFromAnotherModuleRunsThroughTheSameRoad) {
  static std::string value = "old";
  settings::register_kind({"memo", {}, {}, true, false, {}});
  register_kind_handler(
      "memo",
      {[](const settings::Setting&, PlanItem& item) { item.current = value; },
       [](const PlanItem& p) {
         return std::vector<ChangeItem>{{"memo", p.setting, value, p.wanted, Json::object()}};
       },
       [](const ChangeItem& item, bool original) {
         value = original ? item.original : item.applied;
       }});
  register_restorer("memo", [](const ChangeItem& item) {
    value = item.original;
    return RestoreOutcome{RestoreOutcome::Status::restored, ""};
  });
  const auto file = settings::parse_settings(
      "description: d\nsettings:\n  - {kind: memo, target: m, value: new, effect: live, reason: r, "
      "reference: x}\n",
      "memo.yaml");
  std::istringstream in("y\n");
  std::ostringstream out, err;
  EXPECT_EQ(run_settings(file, {"apply", "memo.yaml", "memo", tmp_.path()}, in, out, err), 0)
      << err.str();
  EXPECT_EQ(value, "new");
  EXPECT_FALSE(fs::is_empty(tmp_.path() / "out/orvaneData"));
  const auto sets = unsettled();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].source, "apply");
  restore_change_set(sets[0]);
  EXPECT_EQ(value, "old");
}

}  // namespace
}  // namespace orvane::profile

namespace orvane::profile {
namespace {

TEST_F(ProfileRun, AnNginxDirectiveInAnIncludedFileIsChangedThere) {
  tmp_.write("web/nginx.conf",
             "events {\n}\nhttp {\n\tsendfile on;\n\tinclude /etc/nginx/conf.d/*.conf;\n}\n");
  tmp_.write("web/conf.d/tuning.conf",
             "keepalive_timeout 5;\nserver {\n\tkeepalive_requests 7;\n}\n");
  ASSERT_EQ(run("specweb_config", tmp_.path() / "web", "y\n"), 0) << err_.str();
  EXPECT_EQ(read_file(tmp_.path() / "web/conf.d/tuning.conf"),
            "keepalive_timeout 65;\nserver {\n\tkeepalive_requests 7;\n}\n");
  const std::string main = read_file(tmp_.path() / "web/nginx.conf");
  EXPECT_EQ(main.find("keepalive_timeout"), std::string::npos) << main;
  EXPECT_NE(main.find("\tkeepalive_requests 10000;\n"), std::string::npos) << main;
}

}  // namespace
}  // namespace orvane::profile
