// Packing and unpacking: zlib, base64 and a BLAKE2b checksum, all checked on the way back.
#include <sodium.h>
#include <zlib.h>

#include <charconv>
#include <orvane/sealing.hpp>
#include <string>

#include "sodium_init.hpp"

namespace orvane::sealing {
namespace {

constexpr std::string_view kMagic = "ORVCNF1 ";
constexpr std::string_view kCheck = "check ";
constexpr size_t kLineWidth = 76;  // base64 characters per line
// No packed settings file comes near this; it keeps a forged size from allocating without bound.
constexpr size_t kMaxOriginal = size_t{256} << 20;

std::string checksum_hex(std::string_view data) {
  unsigned char sum[crypto_generichash_BYTES];
  crypto_generichash(sum, sizeof sum, reinterpret_cast<const unsigned char*>(data.data()),
                     data.size(), nullptr, 0);
  char hex[2 * sizeof sum + 1];
  sodium_bin2hex(hex, sizeof hex, sum, sizeof sum);
  return hex;
}

[[noreturn]] void refuse(const std::string& what) {
  throw SealError("not a sound packed file: " + what);
}

}  // namespace

bool is_packed(std::string_view data) {
  return data.starts_with(kMagic);
}

std::string pack(std::string_view data) {
  ensure_sodium();
  uLongf zlen = compressBound(data.size());
  std::string z(zlen, '\0');
  if (compress2(reinterpret_cast<Bytef*>(z.data()), &zlen,
                reinterpret_cast<const Bytef*>(data.data()), data.size(),
                Z_BEST_COMPRESSION) != Z_OK) {
    throw SealError("cannot compress the file");
  }
  z.resize(zlen);

  constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;
  std::string b64(sodium_base64_ENCODED_LEN(z.size(), kVariant), '\0');
  sodium_bin2base64(b64.data(), b64.size(), reinterpret_cast<const unsigned char*>(z.data()),
                    z.size(), kVariant);
  b64.resize(b64.size() - 1);  // the terminating NUL

  std::string out;
  out.reserve(b64.size() + b64.size() / kLineWidth + 128);
  out.append(kMagic).append(std::to_string(data.size())).append("\n");
  for (size_t at = 0; at < b64.size(); at += kLineWidth) {
    out.append(b64, at, kLineWidth).append("\n");
  }
  out.append(kCheck).append(checksum_hex(data)).append("\n");
  return out;
}

std::string unpack(std::string_view packed) {
  ensure_sodium();
  if (!is_packed(packed)) refuse("it does not start with the line \"ORVCNF1 <size>\"");
  const size_t header_end = packed.find('\n');
  if (header_end == std::string_view::npos) refuse("it ends after its header line");
  const std::string_view size_text = packed.substr(kMagic.size(), header_end - kMagic.size());
  size_t size = 0;
  const auto [end, ec] =
      std::from_chars(size_text.data(), size_text.data() + size_text.size(), size);
  if (ec != std::errc() || end != size_text.data() + size_text.size() || size_text.empty() ||
      size > kMaxOriginal) {
    refuse("its header line gives no valid size");
  }

  // The checksum line is the last line; nothing may follow it.
  std::string_view rest = packed.substr(header_end + 1);
  if (!rest.ends_with('\n')) refuse("it does not end with a line break (cut short?)");
  const size_t check_at = rest.rfind('\n', rest.size() - 2);
  const std::string_view check_line =
      rest.substr(check_at == std::string_view::npos ? 0 : check_at + 1);
  if (!check_line.starts_with(kCheck)) refuse("its last line is not the checksum line");
  const std::string_view sum =
      check_line.substr(kCheck.size(), check_line.size() - kCheck.size() - 1);
  const std::string_view body =
      check_at == std::string_view::npos ? std::string_view{} : rest.substr(0, check_at + 1);

  std::string z(body.size() / 4 * 3 + 3, '\0');
  size_t zlen = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(z.data()), z.size(), body.data(),
                        body.size(), "\n", &zlen, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
    refuse("its base64 text is damaged");
  }
  z.resize(zlen);

  std::string out(size, '\0');
  uLongf out_len = size;
  // uncompress needs a non-null buffer even for an empty original.
  char empty = 0;
  const int rc =
      uncompress(size ? reinterpret_cast<Bytef*>(out.data()) : reinterpret_cast<Bytef*>(&empty),
                 &out_len, reinterpret_cast<const Bytef*>(z.data()), z.size());
  if (rc != Z_OK || out_len != size) refuse("its compressed data is damaged or of another size");
  if (checksum_hex(out) != sum) refuse("its checksum does not match its content");
  return out;
}

}  // namespace orvane::sealing
