// SPDX-License-Identifier: Apache-2.0
// What one SMB2 signature costs: a 200-byte message (header and body) signed
// and verified with each algorithm, each call opening and closing its own
// libgcrypt handle as the signing code does.
#include <benchmark/benchmark.h>
#include <stdint.h>

#include <vector>

#include "smb2/smb2_signing.h"

namespace {

net::Smb2SigningKey KeyFor(int64_t algorithm) {
  net::Smb2SigningKey key;
  key.algorithm = static_cast<net::SigningAlgorithm>(algorithm);
  for (size_t i = 0; i < sizeof key.key; ++i) key.key[i] = static_cast<uint8_t>(0x40 + i);
  return key;
}

std::vector<uint8_t> Message() {
  std::vector<uint8_t> m(200, 0x5a);
  const uint8_t head[] = {0xfe, 'S', 'M', 'B', 64, 0};
  for (size_t i = 0; i < sizeof head; ++i) m[i] = head[i];
  return m;
}

// Arg: 0 HMAC-SHA256, 1 AES-CMAC, 2 AES-GMAC (SigningAlgorithm).
void BM_Sign(benchmark::State& state) {
  const net::Smb2SigningKey key = KeyFor(state.range(0));
  std::vector<uint8_t> m = Message();
  for (auto _ : state) {
    bool ok = net::SignSmb2Message(key, m.data(), m.size());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 200);
}
BENCHMARK(BM_Sign)->Arg(0)->Arg(1)->Arg(2);

void BM_Verify(benchmark::State& state) {
  const net::Smb2SigningKey key = KeyFor(state.range(0));
  std::vector<uint8_t> m = Message();
  if (!net::SignSmb2Message(key, m.data(), m.size())) state.SkipWithError("sign failed");
  for (auto _ : state) {
    bool ok = net::VerifySmb2Message(key, m.data(), m.size());
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_Verify)->Arg(0)->Arg(1)->Arg(2);

// The once-per-session work: a 3.1.1 key from K and H.
void BM_DeriveSigningKey311(benchmark::State& state) {
  const uint8_t k[16] = {1, 2, 3};
  const net::PreauthHash h;
  net::Smb2SigningKey key;
  for (auto _ : state) {
    bool ok = net::DeriveSigningKey(0x0311, net::SigningAlgorithm::kAesGmac, k, sizeof k, h, &key);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_DeriveSigningKey311);

}  // namespace

BENCHMARK_MAIN();
