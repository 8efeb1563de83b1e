// Packing and encryption: byte-exact round trips, and every damaged, cut or foreign input refused.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include <orvane/sealing.hpp>
#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"
#include "files.hpp"

namespace orvane::sealing {
namespace {

using testing::TempDir;

std::string random_bytes(size_t n, unsigned seed = 7) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

constexpr size_t kChunk = 64 * 1024;

const std::vector<std::string>& originals() {
  static const std::vector<std::string> all = {
      "",
      "a",
      "vm.swappiness: 10\r\n\tno final line break",
      std::string("\0\xff\0", 3),
      random_bytes(57),  // one full base64 line
      random_bytes(kChunk - 1),
      random_bytes(kChunk),
      random_bytes(kChunk + 1),
      random_bytes(3 * kChunk + 5, 11),
  };
  return all;
}

Secret key_of(unsigned char fill) {
  Secret k(kKeyBytes);
  std::memset(k.data(), fill, k.size());
  return k;
}

KeySource with_key(unsigned char fill) {
  return {.key = [fill] { return key_of(fill); }, .passphrase = {}};
}

// The cheapest stretching libsodium allows: the tests are about the format, not the cost.
const PassphraseCost kCheap{1, 8192};

KeySource with_passphrase(std::string text) {
  return {.key = {}, .passphrase = [text](bool) {
            Secret s(text.size());
            std::memcpy(s.data(), text.data(), text.size());
            return s;
          }};
}

TEST(Sealing, RoundTripsAreByteExact) {
  const KeySource key = with_key(1);
  for (const std::string& original : originals()) {
    SCOPED_TRACE(original.size());
    const std::string packed = pack(original);
    EXPECT_TRUE(is_packed(packed));
    EXPECT_TRUE(is_valid_utf8(packed));
    EXPECT_EQ(unpack(packed), original);
    const std::string sealed = encrypt(original, key);
    EXPECT_TRUE(is_encrypted(sealed));
    EXPECT_EQ(decrypt(sealed, key), original);
  }
}

TEST(Sealing, PassphraseRoundTripAndWrongPassphrase) {
  const std::string sealed =
      encrypt("net.core.somaxconn: 4096\n", with_passphrase("correct horse"), kCheap);
  EXPECT_EQ(decrypt(sealed, with_passphrase("correct horse")), "net.core.somaxconn: 4096\n");
  EXPECT_THROW(decrypt(sealed, with_passphrase("correct hors")), SealError);
  // A file sealed with a passphrase never asks for the key file, and the reverse.
  EXPECT_THROW(decrypt(sealed, with_key(1)), SealError);
  EXPECT_THROW(decrypt(encrypt("x", with_key(1)), with_passphrase("x")), SealError);
}

struct Damage {
  std::string name;
  std::function<void(std::string&)> apply;
};

void flip(std::string& s, size_t at) {
  s[at] = static_cast<char>(s[at] ^ 0x01);
}

TEST(Sealing, DamagedEncryptedFilesAreRefused) {
  const std::string original = random_bytes(2 * kChunk + 100);
  const std::string sealed = encrypt(original, with_key(2));
  const size_t body = 8 + 24;  // magic and mode, stream header
  const std::vector<Damage> damages = {
      {"mode byte", [](std::string& s) { s[7] = 'P'; }},
      {"stream header", [](std::string& s) { flip(s, 8 + 3); }},
      {"first chunk", [&](std::string& s) { flip(s, body + 100); }},
      {"second chunk", [&](std::string& s) { flip(s, body + kChunk + 17 + 5); }},
      {"last tag", [](std::string& s) { flip(s, s.size() - 1); }},
      {"cut in the header", [](std::string& s) { s.resize(20); }},
      {"cut inside a chunk", [](std::string& s) { s.resize(s.size() - 50); }},
      {"final chunk dropped", [&](std::string& s) { s.resize(body + 2 * (kChunk + 17)); }},
      {"only the stream header", [&](std::string& s) { s.resize(body); }},
      {"bytes after the end", [](std::string& s) { s += std::string(17, 'x'); }},
      {"chunk appended", [&](std::string& s) { s += s.substr(body, kChunk + 17); }},
  };
  for (const Damage& d : damages) {
    std::string copy = sealed;
    d.apply(copy);
    EXPECT_THROW(decrypt(copy, with_key(2)), SealError) << d.name;
  }
  EXPECT_THROW(decrypt(sealed, with_key(3)), SealError) << "wrong key";

  // The passphrase header: salt and limits are bound to the content.
  const std::string locked = encrypt("abc", with_passphrase("pw"), kCheap);
  for (size_t at : {size_t{8}, size_t{8 + 15}, size_t{8 + 16}, size_t{8 + 24 + 2}}) {
    std::string copy = locked;
    flip(copy, at);
    EXPECT_THROW(decrypt(copy, with_passphrase("pw")), SealError) << "offset " << at;
  }
}

TEST(Sealing, DamagedPackedFilesAreRefused) {
  const std::string original = random_bytes(500) + std::string(2000, 'a');
  const std::string packed = pack(original);
  const size_t first_body = packed.find('\n') + 1;
  const std::vector<Damage> damages = {
      {"magic", [](std::string& s) { s[0] = 'X'; }},
      {"size changed", [](std::string& s) { s.replace(s.find(' ') + 1, 1, "9"); }},
      {"size not a number", [](std::string& s) { s.insert(s.find(' ') + 1, "x"); }},
      {"size huge", [](std::string& s) { s.insert(s.find(' ') + 1, "99999999999"); }},
      {"base64 character", [&](std::string& s) { s[first_body + 10] ^= 0x20; }},
      {"base64 invalid", [&](std::string& s) { s[first_body + 3] = '!'; }},
      {"checksum digit",
       [](std::string& s) { s[s.size() - 2] = s[s.size() - 2] == '0' ? '1' : '0'; }},
      {"checksum line dropped", [](std::string& s) { s.resize(s.rfind("check ")); }},
      {"cut in the middle", [](std::string& s) { s.resize(s.size() / 2); }},
      {"last line break dropped", [](std::string& s) { s.pop_back(); }},
      {"text after the checksum", [](std::string& s) { s += "more\n"; }},
      {"header only", [&](std::string& s) { s.resize(first_body); }},
  };
  for (const Damage& d : damages) {
    std::string copy = packed;
    d.apply(copy);
    EXPECT_THROW(unpack(copy), SealError) << d.name;
  }
}

struct KeyFileCase {
  std::string name;
  std::string content;
  mode_t mode;
  bool accepted;
};

TEST(KeyFile, OnlyAPrivateFileOfExactly32BytesIsAccepted) {
  TempDir dir;
  const std::string key(32, 'k');
  const std::vector<KeyFileCase> cases = {
      {"0600", key, 0600, true},
      {"0400", key, 0400, true},
      {"0644", key, 0644, false},
      {"0640", key, 0640, false},
      {"0700", key, 0700, false},
      {"31 bytes", key.substr(1), 0600, false},
      {"33 bytes", key + "\n", 0600, false},
      {"empty", "", 0600, false},
  };
  for (const KeyFileCase& c : cases) {
    const auto file = dir.write(c.name, c.content);
    ::chmod(file.c_str(), c.mode);
    if (c.accepted) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(read_key_file(file).data()), 32), key);
    } else {
      EXPECT_THROW(read_key_file(file), SealError) << c.name;
    }
  }
  EXPECT_THROW(read_key_file(dir.path().string()), SealError) << "a directory";
  EXPECT_THROW(read_key_file((dir.path() / "missing").string()), SealError);
  if (::geteuid() == 0) {
    const auto other = dir.write("other", key);
    ::chmod(other.c_str(), 0600);
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
    EXPECT_THROW(read_key_file(other), SealError) << "owned by another user";
  }
}

TEST(Files, OutputNamesFollowPathAndBaseName) {
  EXPECT_EQ(output_path("a/b/x.yaml", "out", ".orvenc"), "out/x.yaml.orvenc");
  EXPECT_EQ(output_path("/etc/x.yaml", "/tmp", ".orvcnf"), "/tmp/x.yaml.orvcnf");
  EXPECT_EQ(output_path("d/x.yaml.orvcnf", ".", "-.orvcnf"), "x.yaml");
  EXPECT_THROW(output_path("x.yaml", ".", "-.orvcnf"), SealError);
  EXPECT_THROW(output_path(".orvcnf", ".", "-.orvcnf"), SealError);
  EXPECT_EQ(input_path("x.yaml", "in"), "in/x.yaml");
  EXPECT_EQ(input_path("/abs/x.yaml", "in"), "/abs/x.yaml");
}

TEST(Files, PublishingNeverReplacesAFile) {
  TempDir dir;
  const auto target = dir.path() / "out";
  publish_new(target, "first");
  EXPECT_THROW(publish_new(target, "second"), SealError);
  EXPECT_EQ(read_file(target), "first");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A dangling link is a name in use too.
  std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "link");
  EXPECT_THROW(publish_new(dir.path() / "link", "x"), SealError);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "nowhere"));
  EXPECT_THROW(publish_new(dir.path() / "no-dir" / "x", "x"), SealError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(Files, InputsMustBeRegularFiles) {
  TempDir dir;
  EXPECT_THROW(read_input(dir.path() / "missing"), SealError);
  EXPECT_THROW(read_input(dir.path()), SealError);
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  EXPECT_THROW(read_input(dir.path() / "fifo"), SealError);
}

}  // namespace
}  // namespace orvane::sealing
