#pragma once
// Settings files in transit: packed (compressed, base64 text: hidden from a casual look, no
// protection at all) and encrypted (authenticated encryption under a key file or a passphrase).
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvane::sealing {

// A file that cannot be packed, unpacked, encrypted or decrypted; the message is one line for
// the administrator.
class SealError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Packing (`orvane confuse`) ----
// The packed text: the header line "ORVCNF1 <size of the original>", the zlib-compressed bytes
// in base64 (lines of 76 characters), and the line "check <BLAKE2b-256 of the original in hex>".

bool is_packed(std::string_view data);
std::string pack(std::string_view data);
// The original bytes. Throws SealError when the header, the base64, the compressed stream, the
// size or the checksum is wrong.
std::string unpack(std::string_view packed);

// ---- Encryption (`orvane apply --enc` / `--de`) ----
// Layout: "ORVENC1" and a mode byte ('K' key file, 'P' passphrase), for 'P' the Argon2id salt (16
// bytes) and its limits (ops, then memory in bytes, 8 bytes each, little-endian); then the
// secret-stream header (24 bytes) and chunks of up to 64 KiB, each with its 17-byte tag and the
// bytes before the stream header as additional data. The last chunk, and only it, is marked
// final, so a file cut at a chunk boundary is refused too.

// Key material in locked memory, wiped when released.
class Secret {
 public:
  explicit Secret(size_t size);
  ~Secret();
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  Secret(Secret&& other) noexcept;
  Secret& operator=(Secret&& other) noexcept;

  unsigned char* data() { return data_; }
  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  void resize(size_t size);  // shrinks only; for a passphrase shorter than its buffer

 private:
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

inline constexpr size_t kKeyBytes = 32;

// Where the secret of a file comes from. `key` gives the 32 raw bytes of a key file; it is
// empty when no key file is configured. `passphrase(confirm)` asks for a passphrase (twice when
// `confirm`).
struct KeySource {
  std::function<Secret()> key;
  std::function<Secret(bool confirm)> passphrase;
};

// The cost of stretching a passphrase with Argon2id; stored in the file, so that decryption
// uses what encryption used. The default is libsodium's "moderate" (about a second and 256 MiB).
struct PassphraseCost {
  uint64_t ops;
  uint64_t mem;  // bytes
  static PassphraseCost standard();
};

bool is_encrypted(std::string_view data);
// Uses the key when the source has one, else a passphrase asked twice.
std::string encrypt(std::string_view plain, const KeySource& source,
                    PassphraseCost cost = PassphraseCost::standard());
// Uses what the file was encrypted with. Throws SealError, before returning any byte, when the
// file is cut short, changed, or the key or passphrase is wrong.
std::string decrypt(std::string_view sealed, const KeySource& source);

// The administrator's key source: the key file that ORVANE_KEY_FILE names (exactly 32 bytes, a
// regular file owned by the user with mode 0600 or 0400), else a passphrase read from the
// terminal without echo.
KeySource key_source_from_environment();

// The 32 bytes of a key file, after the checks above. Throws SealError naming what is wrong.
Secret read_key_file(const std::string& path);

}  // namespace orvane::sealing
