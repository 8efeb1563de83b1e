// `orvane apply` and `orvane confuse`: from the options record to files read, written or applied.
#include <filesystem>
#include <iostream>
#include <string>

#include <orvane/apply_command.hpp>
#include <orvane/sealing.hpp>

#include "files.hpp"
#include "script_kind.hpp"
#include "settings_apply.hpp"

namespace orvane {
namespace {

using namespace sealing;

struct Request {
  std::string file;  // SCRIPT as given
  std::string dir;   // --PATH
  std::filesystem::path input;
};

Request request_of(const Json& options) {
  Request r;
  r.file = options.at("SCRIPT").get<std::string>();
  r.dir = options.value("PATH", std::string("."));
  if (r.file.empty()) throw SealError("the file name is empty");
  if (r.dir.empty()) r.dir = ".";
  r.input = input_path(r.file, r.dir);
  return r;
}

bool flag(const Json& options, const char* key) {
  auto it = options.find(key);
  return it != options.end() && it->is_boolean() && it->get<bool>();
}

// Runs one step whose SealError is about `file`, naming it in the message.
template <typename F>
auto about(const std::filesystem::path& file, F&& step) {
  try {
    return step();
  } catch (const SealError& e) {
    throw SealError(file.string() + ": " + e.what());
  }
}

int encrypt_only(const Request& r) {
  const std::filesystem::path out = output_path(r.file, r.dir, ".orvenc");
  const std::string data = read_input(r.input);
  if (is_encrypted(data)) throw SealError(r.input.string() + " is encrypted already");
  check_output_free(out);
  const KeySource source = key_source_from_environment();
  publish_new(out, encrypt(data, source));
  std::cout << "encrypted: " << out.string() << "\nNothing was applied; `orvane apply "
            << out.filename().string() << " --de` decrypts and applies it.\n";
  return 0;
}

int apply(const Request& r, bool de) {
  std::string data = read_input(r.input);
  if (de) {
    if (!is_encrypted(data)) {
      throw SealError(r.input.string() +
                      " is not encrypted: --de takes a file written by `orvane apply FILE --enc`");
    }
    const KeySource source = key_source_from_environment();
    data = about(r.input, [&] { return decrypt(data, source); });
  } else if (is_encrypted(data)) {
    throw SealError(r.input.string() + " is encrypted: `orvane apply " + r.file +
                    " --de` decrypts and applies it");
  }
  if (is_packed(data)) data = about(r.input, [&] { return unpack(data); });
  return apply_settings_file(data, std::filesystem::absolute(r.input).lexically_normal().string(),
                             std::cin, std::cout, std::cerr);
}

}  // namespace

int run_apply(const Json& options) {
  try {
    const bool enc = flag(options, "enc"), de = flag(options, "de");
    if (enc && de) {
      throw SealError("--enc only encrypts a file and --de decrypts and applies one: give one");
    }
    const Request r = request_of(options);
    return enc ? encrypt_only(r) : apply(r, de);
  } catch (const std::exception& e) {
    std::cerr << "orvane apply: " << e.what() << "\n";
    return 1;
  }
}

int run_confuse(const Json& options) {
  try {
    const bool cnf = flag(options, "cnf"), un = flag(options, "un");
    if (cnf && un) throw SealError("--cnf packs a file and --un unpacks one: give one");
    const Request r = request_of(options);
    const std::filesystem::path out = output_path(r.file, r.dir, un ? "-.orvcnf" : ".orvcnf");
    const std::string data = read_input(r.input);
    if (un && !is_packed(data)) {
      throw SealError(r.input.string() + " is not a packed file (`orvane confuse FILE` makes one)");
    }
    if (!un && is_packed(data)) {
      throw SealError(r.input.string() + " is packed already: `orvane confuse " + r.file +
                      " --un` unpacks it");
    }
    check_output_free(out);
    if (un) {
      publish_new(out, about(r.input, [&] { return unpack(data); }));
      std::cout << "unpacked: " << out.string() << "\n";
    } else {
      publish_new(out, pack(data));
      std::cout << "packed: " << out.string()
                << "\nPacking only hides the file from a casual look: anyone can unpack it. "
                   "`orvane apply FILE --enc` protects a file.\n";
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "orvane confuse: " << e.what() << "\n";
    return 1;
  }
}

void register_apply_restorers() {
  register_script_kind();
}

}  // namespace orvane
