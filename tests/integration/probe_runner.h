// SPDX-License-Identifier: Apache-2.0
// Running the query probe against test servers in their network namespaces
// (scripts/test-servers.sh), for the integration tests.
#ifndef KESTRIN_TESTS_INTEGRATION_PROBE_RUNNER_H_
#define KESTRIN_TESTS_INTEGRATION_PROBE_RUNNER_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "transport/socket.h"

namespace probe_runner {

struct Output {
  int exit_code = -1;
  std::string text;
};

inline std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline Output Shell(const std::string& command) {
  Output out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
  int status = pclose(pipe);
  out.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

inline bool UnderValgrind() {
  const char* v = getenv("KESTRIN_VALGRIND");
  return v != nullptr && strcmp(v, "1") == 0;
}

/// Extra time a probe may take for starting up: valgrind is slow to start.
inline uint64_t StartupMs() { return UnderValgrind() ? 4000 : 500; }

/// Why the tests cannot run here, or empty when they can.
inline std::string MissingPrerequisite() {
  if (geteuid() != 0) return "needs root for network namespaces";
  if (Shell("command -v smbd rpcclient").exit_code != 0) return "needs smbd and rpcclient";
  if (UnderValgrind() && Shell("command -v valgrind").exit_code != 0) return "needs valgrind";
  return "";
}

#define SKIP_UNLESS_POSSIBLE()                     \
  do {                                             \
    std::string missing = MissingPrerequisite();   \
    if (!missing.empty()) GTEST_SKIP() << missing; \
  } while (0)

inline bool Servers(const std::string& arguments) {
  Output out = Shell(Quote(KESTRIN_TEST_SERVERS) + " " + arguments);
  if (out.exit_code != 0) ADD_FAILURE() << "test-servers.sh " << arguments << ":\n" << out.text;
  return out.exit_code == 0;
}

/// Gives this run test servers of its own, unless the caller did (the
/// namespace prefix KESTRIN_NS_PREFIX, the state directory
/// KESTRIN_SERVER_STATE): ones made from the process id. True when made
/// here; everything under them is then this run's to stop.
inline bool ClaimRunPrefix() {
  const char* given = getenv("KESTRIN_NS_PREFIX");
  if (given != nullptr && *given != '\0') return false;
  std::string run = "kt" + std::to_string(getpid());
  setenv("KESTRIN_NS_PREFIX", (run + "-").c_str(), 1);
  setenv("KESTRIN_SERVER_STATE", ("/tmp/kestrin-servers/" + run).c_str(), 1);
  return true;
}

/// Stops every server of this run's prefix and removes its state.
inline void StopRunServers() {
  Shell(Quote(KESTRIN_TEST_SERVERS) + " stopall");
  Shell("rm -rf " + Quote(getenv("KESTRIN_SERVER_STATE")));
}

/// Where the harness keeps server `name`: its namespace and state directory.
struct Place {
  std::string ns;
  std::string dir;
};

inline Place Where(const std::string& name) {
  Output out = Shell(Quote(KESTRIN_TEST_SERVERS) + " where " + Quote(name));
  Place p;
  size_t space = out.text.find(' ');
  size_t end = out.text.find('\n');
  if (out.exit_code != 0 || space == std::string::npos || end == std::string::npos) {
    ADD_FAILURE() << "test-servers.sh where " << name << ":\n" << out.text;
    return p;
  }
  p.ns = out.text.substr(0, space);
  p.dir = out.text.substr(space + 1, end - space - 1);
  return p;
}

/// A proxy (tamper_proxy.py) in the namespace of server `name`, listening
/// on `listen` and relaying to `target`, that alters what `what` says;
/// started on first use, stopped with the server.
inline void TamperProxy(const std::string& name, const std::string& listen,
                        const std::string& target, const std::string& what) {
  Place where = Where(name);
  std::string control = where.dir + "/tamper-" + listen + ".control";
  std::string ready = where.dir + "/tamper-" + listen + ".ready";
  FILE* f = fopen(control.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(what.c_str(), f);
  fclose(f);
  if (Shell("test -e " + Quote(ready)).exit_code == 0) return;
  ASSERT_EQ(Shell("ip netns exec " + Quote(where.ns) + " setsid /usr/bin/python3 " +
                  Quote(KESTRIN_TAMPER_PROXY) + " " + listen + " " + target + " " + Quote(control) +
                  " " + Quote(ready) + " </dev/null >/dev/null 2>&1 &")
                .exit_code,
            0);
  for (int i = 0; i < 100 && Shell("test -e " + Quote(ready)).exit_code != 0; ++i) usleep(20000);
}

/// What the probe printed: "status=N kind=K code=C ms=M[ name=X sid=S]".
struct Probe {
  int status = -1;
  uint64_t ms = 0;       // the query alone, measured by the probe
  uint64_t wall_ms = 0;  // the whole probe process
  std::string name;
  std::string sid;
  std::string text;
  std::string mechanism;
  unsigned dialect = 0;
  bool is_signed = false;
  bool is_encrypted = false;
  unsigned round_trips = 0;
  unsigned port = 0;  // the TCP port the query tried last
};

inline Probe RunProbe(const std::string& server_ns, const std::string& target,
                      const std::string& limits = "", const std::string& env = "") {
  std::string command = "ip netns exec " + Quote(Where(server_ns).ns) + " ";
  if (!env.empty()) command += "env " + env + " ";
  if (UnderValgrind()) {
    command += "valgrind -q --suppressions=" + Quote(KESTRIN_VALGRIND_SUPPRESSIONS) +
               " --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 ";
  }
  command += Quote(KESTRIN_PROBE) + " " + limits + " " + Quote(target);
  Probe p;
  uint64_t start = net::MonotonicMs();
  Output out = Shell(command);
  p.wall_ms = net::MonotonicMs() - start;
  p.text = out.text;
  EXPECT_EQ(out.exit_code, 0) << command << "\n" << out.text;
  unsigned long long ms = 0;
  char mechanism[16] = "";
  unsigned dialect = 0, trips = 0;
  int is_signed = 0;
  if (sscanf(out.text.c_str(),
             "status=%d kind=%*u code=%*x ms=%llu mech=%15s dialect=%x signed=%d trips=%u",
             &p.status, &ms, mechanism, &dialect, &is_signed, &trips) != 6) {
    ADD_FAILURE() << "no result from " << command << "\n" << out.text;
  }
  p.ms = ms;
  p.mechanism = mechanism;
  p.dialect = dialect;
  p.is_signed = is_signed == 1;
  p.round_trips = trips;
  p.is_encrypted = out.text.find(" encrypted=1") != std::string::npos;
  size_t port = out.text.find(" port=");
  if (port != std::string::npos) p.port = static_cast<unsigned>(atoi(out.text.c_str() + port + 6));
  size_t name = out.text.find(" name=");
  size_t sid = out.text.find(" sid=");
  if (name != std::string::npos && sid != std::string::npos && sid > name) {
    p.name = out.text.substr(name + 6, sid - name - 6);
    size_t end = out.text.find('\n', sid);
    p.sid = out.text.substr(sid + 5, end == std::string::npos ? end : end - sid - 5);
  }
  return p;
}

/// rpcclient's anonymous "lsaquery 5" in the namespace: name and SID text.
inline void Rpcclient(const std::string& server_ns, std::string* name, std::string* sid) {
  Output out = Shell("ip netns exec " + Quote(Where(server_ns).ns) +
                     " timeout 30 rpcclient -U% -N 127.0.0.1 -c 'lsaquery 5'");
  ASSERT_EQ(out.exit_code, 0) << out.text;
  size_t n = out.text.find("Domain Name: ");
  size_t s = out.text.find("Domain Sid: ");
  ASSERT_NE(n, std::string::npos) << out.text;
  ASSERT_NE(s, std::string::npos) << out.text;
  *name = out.text.substr(n + 13, out.text.find('\n', n) - n - 13);
  *sid = out.text.substr(s + 12, out.text.find('\n', s) - s - 12);
}

/// A fresh trace file for one probe: its path, removed first.
inline std::string TraceFile(const std::string& name) {
  std::string path = "/tmp/kestrin-trace-" + name + ".txt";
  remove(path.c_str());
  return path;
}

inline std::string ReadText(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

/// Runs the probe with KESTRIN_TRACE and returns the trace's text.
inline std::string TracedProbe(const std::string& server_ns, const std::string& target,
                               const std::string& env, Probe* p) {
  std::string path = TraceFile(server_ns);
  *p = RunProbe(server_ns, target, "", "KESTRIN_TRACE=" + Quote(path) + " " + env);
  std::string text = ReadText(path);
  remove(path.c_str());
  return text;
}

}  // namespace probe_runner

#endif  // KESTRIN_TESTS_INTEGRATION_PROBE_RUNNER_H_
