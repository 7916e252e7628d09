// SPDX-License-Identifier: Apache-2.0
// FormatSidText against the plain snprintf rendering of the same text.
#include <benchmark/benchmark.h>
#include <string.h>

#include <vector>

#include "sid_text.h"

namespace {

// A domain-like identifier, S-1-5-21-..., with `count` sub-authorities,
// most of them ten digits long.
std::vector<DWORD> MakeSid(int count) {
  static const DWORD kValues[] = {21,         1004336348, 1177238915, 682003330,  512,
                                  4294967295, 3623811015, 3361044348, 30300820,   1013,
                                  2147483648, 999999999,  1234567890, 4000000000, 7};
  std::vector<DWORD> words(2 + count, 0);
  BYTE* bytes = reinterpret_cast<BYTE*>(words.data());
  const BYTE authority[6] = {0, 0, 0, 0, 0, 5};
  bytes[0] = SID_REVISION;
  bytes[1] = static_cast<BYTE>(count);
  memcpy(bytes + 2, authority, sizeof authority);
  for (int i = 0; i < count; ++i) words[2 + i] = kValues[i];
  return words;
}

void BM_FormatSidText(benchmark::State& state) {
  std::vector<DWORD> sid = MakeSid(static_cast<int>(state.range(0)));
  WCHAR text[208];
  for (auto _ : state) {
    DWORD length = sizeof text;
    BOOL ok = FormatSidText(sid.data(), text, &length);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FormatSidText)->Arg(0)->Arg(5)->Arg(15);

// The usual rendering: one snprintf for the head, one per sub-authority.
void BM_SnprintfReference(benchmark::State& state) {
  std::vector<DWORD> sid = MakeSid(static_cast<int>(state.range(0)));
  char text[208];
  for (auto _ : state) {
    PSID p = sid.data();
    const BYTE* a = GetSidIdentifierAuthority(p)->Value;
    unsigned authority = (unsigned)a[2] << 24 | (unsigned)a[3] << 16 | (unsigned)a[4] << 8 | a[5];
    int used = snprintf(text, sizeof text, "S-1-%u", authority);
    DWORD count = *GetSidSubAuthorityCount(p);
    for (DWORD i = 0; i < count; ++i)
      used += snprintf(text + used, sizeof text - used, "-%u", *GetSidSubAuthority(p, i));
    benchmark::DoNotOptimize(used);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SnprintfReference)->Arg(0)->Arg(5)->Arg(15);

}  // namespace

BENCHMARK_MAIN();
