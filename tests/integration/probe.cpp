// SPDX-License-Identifier: Apache-2.0
// Runs one account-domain query and prints what came back, for the
// integration tests to run inside a server's network namespace:
//
//   kestrin_query_probe [--connect-ms N] [--reply-ms N] [--total-ms N]
//                       [--record FILE] SERVER
//
// prints "status=<platform error> kind=<k> code=<c> ms=<elapsed>
// mech=<logon> dialect=<d> signed=<0|1> trips=<frames sent> encrypted=<0|1>"
// " port=<TCP port tried last>" and, on
// success, " name=<UTF-8> sid=<S-1-...>". Exit status 0 when it printed.
//
// --record writes the conversation for the replay tests (tests/data): every
// frame both ways ("> HEX", "< HEX"), the random bytes the query used
// ("r HEX"), each token of the caller's logon ("t HEX"), its session key
// ("k HEX") and the mechanism that ran ("m NAME"). A logon that finds no
// credential is replaced by the anonymous one, whose tokens are not listed.
// It refuses to run unless KRB5CCNAME and NTLM_USER_FILE are set and name
// files of the test servers' state directory (or nothing), so that nobody's
// own credentials end up in a recording. Only for throwaway test accounts: the key opens the
// recorded session to anyone who reads the file.
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "auth/authenticator.h"
#include "query/domain_query.h"
#include "query/server_name.h"
#include "transport/socket.h"
#include "base/utf.h"

namespace {

/// The SID's text; an authority past 32 bits in hexadecimal.
std::string SidText(const net::DomainSid& sid) {
  uint64_t authority = 0;
  for (uint8_t byte : sid.authority) authority = authority << 8 | byte;
  char part[32];
  if (authority >> 32 != 0) {
    snprintf(part, sizeof part, "S-%u-0x%012" PRIX64, sid.revision, authority);
  } else {
    snprintf(part, sizeof part, "S-%u-%" PRIu64, sid.revision, authority);
  }
  std::string text = part;
  for (int i = 0; i < sid.sub_count && i < 15; ++i) {
    snprintf(part, sizeof part, "-%u", static_cast<unsigned>(sid.sub[i]));
    text += part;
  }
  return text;
}

const char* MechanismName(net::LogonMechanism m) {
  switch (m) {
    case net::LogonMechanism::kAnonymous: return "anonymous";
    case net::LogonMechanism::kKerberos: return "kerberos";
    case net::LogonMechanism::kNtlm: return "ntlm";
    default: return "other";
  }
}

bool ParseMs(const char* text, uint32_t* out) {
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (end == text || *end != 0 || value > 600000) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// The recorder: a transport and a logon that pass everything through and
// write it down as it goes.
struct Recorder {
  FILE* file;
  net::Connection connection;
  uint32_t reply_ms;
  net::Authenticator logon;
  bool started;  // a frame of the server's is being received
};

void WriteHex(FILE* f, const char* tag, const uint8_t* data, size_t size) {
  fprintf(f, "%s ", tag);
  for (size_t i = 0; i < size; ++i) fprintf(f, "%02X", data[i]);
  fprintf(f, "\n");
}

net::Status RecordSend(void* context, const uint8_t* data, size_t size) {
  Recorder* r = static_cast<Recorder*>(context);
  WriteHex(r->file, ">", data, size);
  return net::SendAll(&r->connection, data, size, r->reply_ms);
}

// Frames come in as a 4-byte prefix, then the rest: one line per frame.
net::Status RecordReceive(void* context, uint8_t* data, size_t size, uint32_t timeout_ms) {
  Recorder* r = static_cast<Recorder*>(context);
  net::Status s = net::ReceiveExact(&r->connection, data, size, timeout_ms);
  if (!net::IsOk(s)) return s;
  if (!r->started) fprintf(r->file, "< ");
  for (size_t i = 0; i < size; ++i) fprintf(r->file, "%02X", data[i]);
  r->started = !r->started;
  if (!r->started) fprintf(r->file, "\n");
  return s;
}

bool RecordRandom(void* context, uint8_t* out, size_t size) {
  Recorder* r = static_cast<Recorder*>(context);
  if (!net::FillRandom(out, size)) return false;
  WriteHex(r->file, "r", out, size);
  return true;
}

net::Status RecordStep(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
                       bool* done, net::Trace* trace) {
  Recorder* r = static_cast<Recorder*>(state);
  net::Status s = r->logon.step(r->logon.state, in, in_size, out, done, trace);
  if (net::IsOk(s) && !out->empty()) WriteHex(r->file, "t", out->data(), out->size());
  return s;
}

void RecordKey(void* state, net::SessionKey* key) {
  Recorder* r = static_cast<Recorder*>(state);
  r->logon.session_key(r->logon.state, key);
  WriteHex(r->file, "k", key->bytes, key->size);
}

net::LogonMechanism RecordMechanism(void* state) {
  Recorder* r = static_cast<Recorder*>(state);
  return r->logon.mechanism(r->logon.state);
}

void RecordClose(void* state) { net::CloseLogon(&static_cast<Recorder*>(state)->logon); }

/// Whether `variable` names a file under the test servers' state directory,
/// a file that does not exist, or nothing.
bool TestCredential(const char* variable) {
  const char* value = getenv(variable);
  if (value == nullptr) return false;
  std::string path = value;
  if (path.rfind("FILE:", 0) == 0) path = path.substr(5);
  const char* state = getenv("KESTRIN_SERVER_STATE");
  std::string root = state != nullptr && *state != '\0' ? state : "/tmp/kestrin-servers";
  return path.empty() || path.rfind(root + "/", 0) == 0 || fopen(path.c_str(), "r") == nullptr;
}

/// The query over a connection of our own, as QueryAccountDomain makes it,
/// but through the recorder.
net::Status RecordQuery(const char* path, const std::u16string& server,
                        const net::QueryLimits& limits, net::AccountDomain* domain,
                        net::QueryReport* report) {
  if (!TestCredential("KRB5CCNAME") || !TestCredential("NTLM_USER_FILE")) {
    fprintf(stderr, "--record: KRB5CCNAME and NTLM_USER_FILE must name test credentials\n");
    exit(2);
  }
  std::string host;
  if (!net::ServerHost(server.c_str(), &host)) return net::TransportFailure(net::kResolveFailed);
  Recorder r{fopen(path, "w"), net::Connection(), limits.reply_ms, net::Authenticator(), false};
  if (r.file == nullptr) return net::TransportFailure(net::kSocketFailure);
  fprintf(r.file, "# kestrin_query_probe --record, %s\n", host.c_str());
  net::Status s = net::ConnectTcp(host, 445, limits.connect_ms,
                                  net::MonotonicMs() + limits.total_ms, &r.connection);
  if (net::IsOk(s)) s = net::OpenCallerLogon(host, &r.logon);
  if (net::IsSecurity(s, net::kNoCredential)) s = net::OpenAnonymousLogon(&r.logon);
  if (net::IsOk(s)) {
    net::Transport transport{&r, RecordSend, RecordReceive, RecordRandom};
    net::Authenticator logon{&r, RecordStep, RecordKey, RecordMechanism, RecordClose};
    logon.may_wait = r.logon.may_wait;
    net::Trace trace;
    net::OpenTrace(&trace);  // as the query itself would
    s = net::RunDomainQuery(&transport, &logon, limits, domain, report, &trace);
    net::CloseTrace(&trace);
    fprintf(r.file, "m %s\n", MechanismName(report->mechanism));
  }
  net::CloseConnection(&r.connection);
  fclose(r.file);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  net::QueryLimits limits;
  const char* server = nullptr;
  const char* record = nullptr;
  for (int i = 1; i < argc; ++i) {
    uint32_t* limit = strcmp(argv[i], "--connect-ms") == 0 ? &limits.connect_ms
                      : strcmp(argv[i], "--reply-ms") == 0 ? &limits.reply_ms
                      : strcmp(argv[i], "--total-ms") == 0 ? &limits.total_ms
                                                           : nullptr;
    if (strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
      record = argv[++i];
    } else if (limit == nullptr && server == nullptr) {
      server = argv[i];
    } else if (limit == nullptr || i + 1 == argc || !ParseMs(argv[++i], limit)) {
      fprintf(stderr,
              "usage: %s [--connect-ms N] [--reply-ms N] [--total-ms N] "
              "[--record FILE] SERVER\n",
              argv[0]);
      return 2;
    }
  }
  std::u16string name = Utf8ToUtf16(server != nullptr ? server : "", server ? strlen(server) : 0);
  net::AccountDomain domain;
  net::QueryReport report;
  uint64_t start = net::MonotonicMs();
  net::Status s = record != nullptr
                      ? RecordQuery(record, name, limits, &domain, &report)
                      : net::QueryAccountDomain(name.c_str(), limits, &domain, &report);
  uint64_t elapsed = net::MonotonicMs() - start;
  printf("status=%u kind=%u code=0x%x ms=%" PRIu64
         " mech=%s dialect=0x%x signed=%d trips=%u"
         " encrypted=%d",
         net::ToPlatformError(s), static_cast<unsigned>(s.kind), static_cast<unsigned>(s.code),
         elapsed, MechanismName(report.mechanism), report.dialect, report.signed_session ? 1 : 0,
         report.round_trips, report.encrypted_session ? 1 : 0);
  printf(" port=%u", static_cast<unsigned>(report.port));
  if (net::IsOk(s)) {
    std::string utf8 = Utf16ToUtf8(domain.name.data(), domain.name.size());
    printf(" name=%s sid=%s", utf8.c_str(), SidText(domain.sid).c_str());
  }
  printf("\n");
  return 0;
}
