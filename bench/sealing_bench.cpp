// Size and time of packing (`orvane confuse`) and encryption (`orvane apply --enc/--de`) on a
// 1 MiB file: random bytes (incompressible) and settings-like text.
//
//   nice -n 19 bench_sealing --benchmark_counters_tabular=true
//
// The counter "out_bytes" is the size of the packed or encrypted file; "Passphrase" is the
// one-off cost of stretching a passphrase (Argon2id at the standard cost), paid per file.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include <orvane/sealing.hpp>

namespace {

using namespace orvane::sealing;

constexpr size_t kSize = 1 << 20;

std::string random_file() {
  std::mt19937 gen(1);
  std::string s(kSize, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

std::string text_file() {
  std::string s;
  for (int i = 0; s.size() < kSize; ++i) {
    s += "  - kind: sysctl\n    target: net.ipv4.conf.eth" + std::to_string(i % 97) +
         ".rp_filter\n    value: \"" + std::to_string(i % 3) +
         "\"\n    reason: Strict reverse-path filtering drops asymmetric traffic.\n";
  }
  s.resize(kSize);
  return s;
}

const std::string& input(int which) {
  static const std::string files[2] = {random_file(), text_file()};
  return files[which];
}

KeySource key_source() {
  return {.key =
              [] {
                Secret k(kKeyBytes);
                std::memset(k.data(), 7, k.size());
                return k;
              },
          .passphrase = {}};
}

void label(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "random" : "text");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void Pack(benchmark::State& state) {
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(out = pack(input(state.range(0))));
  state.counters["out_bytes"] = static_cast<double>(out.size());
  label(state);
}

void Unpack(benchmark::State& state) {
  const std::string packed = pack(input(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(unpack(packed));
  label(state);
}

void Encrypt(benchmark::State& state) {
  const KeySource key = key_source();
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(out = encrypt(input(state.range(0)), key));
  state.counters["out_bytes"] = static_cast<double>(out.size());
  label(state);
}

void Decrypt(benchmark::State& state) {
  const KeySource key = key_source();
  const std::string sealed = encrypt(input(state.range(0)), key);
  for (auto _ : state) benchmark::DoNotOptimize(decrypt(sealed, key));
  label(state);
}

void Passphrase(benchmark::State& state) {
  const KeySource source{.key = {}, .passphrase = [](bool) {
                           Secret s(12);
                           std::memcpy(s.data(), "correct-pass", 12);
                           return s;
                         }};
  for (auto _ : state) benchmark::DoNotOptimize(encrypt("x", source));
}

BENCHMARK(Pack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Unpack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Encrypt)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Decrypt)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Passphrase)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
