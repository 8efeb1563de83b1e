// Encryption and decryption of a whole file in memory with libsodium's secret stream.
#include <sodium.h>

#include <cstdint>
#include <new>
#include <orvane/sealing.hpp>
#include <string>
#include <utility>

#include "sodium_init.hpp"

namespace orvane::sealing {
namespace {

using Stream = crypto_secretstream_xchacha20poly1305_state;
constexpr std::string_view kMagic = "ORVENC1";
constexpr char kModeKey = 'K';
constexpr char kModePassphrase = 'P';
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kTagBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr size_t kStreamHeader = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr size_t kSalt = crypto_pwhash_SALTBYTES;

static_assert(kKeyBytes == crypto_secretstream_xchacha20poly1305_KEYBYTES);

const unsigned char* bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void put_u64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

uint64_t get_u64(std::string_view in) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[i]);
  return v;
}

Secret derive_key(const Secret& passphrase, const unsigned char* salt, uint64_t ops, uint64_t mem) {
  Secret key(kKeyBytes);
  if (crypto_pwhash(key.data(), key.size(), reinterpret_cast<const char*>(passphrase.data()),
                    passphrase.size(), salt, ops, mem, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw SealError("not enough memory to stretch the passphrase (" + std::to_string(mem >> 20) +
                    " MiB needed)");
  }
  return key;
}

Secret key_of(const KeySource& source) {
  if (!source.key) throw SealError("this file was encrypted with a key file: set ORVANE_KEY_FILE");
  Secret key = source.key();
  if (key.size() != kKeyBytes) throw SealError("a key must be exactly 32 bytes");
  return key;
}

[[noreturn]] void refuse() {
  throw SealError(
      "it cannot be decrypted: wrong key or passphrase, or the file was changed or cut short");
}

}  // namespace

// The stronger of libsodium's two everyday settings: the file may travel, so an offline guesser
// should pay more than a login would; paid once per file.
PassphraseCost PassphraseCost::standard() {
  return {crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
}

Secret::Secret(size_t size) : size_(size) {
  ensure_sodium();
  data_ = static_cast<unsigned char*>(sodium_malloc(size ? size : 1));
  if (data_ == nullptr) throw std::bad_alloc();
}

Secret::~Secret() {
  if (data_ != nullptr) sodium_free(data_);  // wipes the bytes first
}

Secret::Secret(Secret&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

Secret& Secret::operator=(Secret&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) sodium_free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void Secret::resize(size_t size) {
  if (size < size_) size_ = size;
}

bool is_encrypted(std::string_view data) {
  return data.starts_with(kMagic);
}

std::string encrypt(std::string_view plain, const KeySource& source, PassphraseCost cost) {
  ensure_sodium();
  std::string out(kMagic);
  Secret key(0);
  if (source.key) {
    out += kModeKey;
    key = key_of(source);
  } else {
    if (!source.passphrase) throw SealError("no key file and no way to ask for a passphrase");
    out += kModePassphrase;
    unsigned char salt[kSalt];
    randombytes_buf(salt, sizeof salt);
    out.append(reinterpret_cast<const char*>(salt), sizeof salt);
    put_u64(out, cost.ops);
    put_u64(out, cost.mem);
    key = derive_key(source.passphrase(true), salt, cost.ops, cost.mem);
  }
  const std::string ad = out;

  Stream st;
  unsigned char header[kStreamHeader];
  crypto_secretstream_xchacha20poly1305_init_push(&st, header, key.data());
  out.append(reinterpret_cast<const char*>(header), sizeof header);
  out.reserve(out.size() + plain.size() + (plain.size() / kChunk + 1) * kTagBytes);
  size_t at = 0;
  do {
    const size_t n = std::min(kChunk, plain.size() - at);
    const bool last = at + n == plain.size();
    const size_t start = out.size();
    out.resize(start + n + kTagBytes);
    crypto_secretstream_xchacha20poly1305_push(
        &st, reinterpret_cast<unsigned char*>(out.data() + start), nullptr, bytes(plain) + at, n,
        bytes(ad), ad.size(),
        last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
             : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    at += n;
  } while (at < plain.size());
  sodium_memzero(&st, sizeof st);
  return out;
}

std::string decrypt(std::string_view sealed, const KeySource& source) {
  ensure_sodium();
  if (!is_encrypted(sealed) || sealed.size() < kMagic.size() + 1) {
    throw SealError("it is not a file encrypted by orvane");
  }
  const char mode = sealed[kMagic.size()];
  size_t ad_len = kMagic.size() + 1;
  Secret key(0);
  if (mode == kModeKey) {
    key = key_of(source);
  } else if (mode == kModePassphrase) {
    ad_len += kSalt + 16;
    if (sealed.size() < ad_len) refuse();
    const uint64_t ops = get_u64(sealed.substr(kMagic.size() + 1 + kSalt));
    const uint64_t mem = get_u64(sealed.substr(kMagic.size() + 1 + kSalt + 8));
    // A forged header must not make orvane spend minutes or gigabytes.
    if (ops < crypto_pwhash_OPSLIMIT_MIN || ops > crypto_pwhash_OPSLIMIT_SENSITIVE ||
        mem < crypto_pwhash_MEMLIMIT_MIN || mem > crypto_pwhash_MEMLIMIT_SENSITIVE) {
      refuse();
    }
    if (!source.passphrase) throw SealError("no way to ask for the passphrase of this file");
    key = derive_key(source.passphrase(false), bytes(sealed) + kMagic.size() + 1, ops, mem);
  } else {
    throw SealError("it is not a file encrypted by orvane");
  }
  const std::string_view ad = sealed.substr(0, ad_len);
  if (sealed.size() < ad_len + kStreamHeader + kTagBytes) refuse();

  Stream st;
  if (crypto_secretstream_xchacha20poly1305_init_pull(&st, bytes(sealed) + ad_len, key.data()) !=
      0) {
    refuse();
  }
  std::string plain;
  plain.reserve(sealed.size());
  size_t at = ad_len + kStreamHeader;
  bool final_seen = false;
  while (at < sealed.size()) {
    // Data after the final chunk is as much a change as a flipped byte.
    if (final_seen) refuse();
    const size_t n = std::min(kChunk + kTagBytes, sealed.size() - at);
    if (n < kTagBytes) refuse();
    const size_t start = plain.size();
    plain.resize(start + n - kTagBytes);
    unsigned long long len = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(
            &st, reinterpret_cast<unsigned char*>(plain.data() + start), &len, &tag,
            bytes(sealed) + at, n, bytes(ad), ad.size()) != 0) {
      sodium_memzero(plain.data(), plain.size());
      refuse();
    }
    final_seen = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
    at += n;
  }
  sodium_memzero(&st, sizeof st);
  if (!final_seen) {
    sodium_memzero(plain.data(), plain.size());
    refuse();
  }
  return plain;
}

}  // namespace orvane::sealing
