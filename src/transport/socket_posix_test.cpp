// SPDX-License-Identifier: Apache-2.0
// The socket layer against listeners on this machine's loopback.
#include "transport/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using net::Connection;
using net::Status;

/// A socket bound to an ephemeral loopback port; listening when `backlog` >= 0.
struct Peer {
  int fd = -1;
  uint16_t port = 0;
  ~Peer() {
    if (fd >= 0) close(fd);
  }
};

void OpenPeer(Peer* peer, int backlog, int receive_buffer = 0) {
  peer->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(peer->fd, 0);
  if (receive_buffer > 0) {
    setsockopt(peer->fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(peer->fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  if (backlog >= 0) {
    ASSERT_EQ(listen(peer->fd, backlog), 0);
  }
  socklen_t size = sizeof a;
  ASSERT_EQ(getsockname(peer->fd, reinterpret_cast<sockaddr*>(&a), &size), 0);
  peer->port = ntohs(a.sin_port);
}

Status Connect(const Peer& peer, Connection* c, uint32_t connect_ms = 2000) {
  return net::ConnectTcp("127.0.0.1", peer.port, connect_ms, net::MonotonicMs() + 5000, c);
}

/// Connects to `peer` and accepts there; the accepted socket goes to `server`.
void ConnectAndAccept(const Peer& peer, Connection* c, int* server) {
  ASSERT_TRUE(net::IsOk(Connect(peer, c)));
  *server = accept(peer.fd, nullptr, nullptr);
  ASSERT_GE(*server, 0);
}

bool IsTransport(Status s, net::TransportError e) {
  return s.kind == net::StatusKind::kTransport && s.code == e;
}

TEST(SocketTest, ExchangesBytesInPieces) {
  Peer peer;
  OpenPeer(&peer, 4);
  Connection c;
  int server = -1;
  ASSERT_NO_FATAL_FAILURE(ConnectAndAccept(peer, &c, &server));

  const uint8_t hello[5] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(net::IsOk(net::SendAll(&c, hello, sizeof hello, 1000)));
  uint8_t got[5] = {};
  ASSERT_EQ(read(server, got, sizeof got), 5);
  EXPECT_EQ(memcmp(got, hello, 5), 0);

  // A reply that arrives in two writes is still read as one.
  ASSERT_EQ(write(server, "ab", 2), 2);
  ASSERT_EQ(write(server, "cde", 3), 3);
  char reply[5] = {};
  ASSERT_TRUE(net::IsOk(net::ReceiveExact(&c, reinterpret_cast<uint8_t*>(reply), 5, 1000)));
  EXPECT_EQ(std::string(reply, 5), "abcde");
  close(server);
  net::CloseConnection(&c);
}

TEST(SocketTest, SilencePeerCloseAndResetAreDistinct) {
  Peer peer;
  OpenPeer(&peer, 4);
  Connection c;
  int server = -1;
  ASSERT_NO_FATAL_FAILURE(ConnectAndAccept(peer, &c, &server));
  uint8_t buffer[8];

  uint64_t start = net::MonotonicMs();
  EXPECT_TRUE(IsTransport(net::ReceiveExact(&c, buffer, 8, 200), net::kReplyTimeout));
  uint64_t waited = net::MonotonicMs() - start;
  EXPECT_GE(waited, 190u);
  EXPECT_LT(waited, 1000u);

  // Half a reply, then the end of the stream.
  ASSERT_EQ(write(server, "abcd", 4), 4);
  close(server);
  EXPECT_TRUE(IsTransport(net::ReceiveExact(&c, buffer, 8, 1000), net::kClosed));
  // Writing to a closed peer fails; it must not raise SIGPIPE.
  Status sent = net::OkStatus();
  for (int i = 0; i < 3 && net::IsOk(sent); ++i) sent = net::SendAll(&c, buffer, 8, 1000);
  EXPECT_TRUE(IsTransport(sent, net::kClosed));
  net::CloseConnection(&c);

  ASSERT_NO_FATAL_FAILURE(ConnectAndAccept(peer, &c, &server));
  linger reset = {1, 0};  // close with RST
  setsockopt(server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(server);
  EXPECT_TRUE(IsTransport(net::ReceiveExact(&c, buffer, 8, 1000), net::kClosed));
  net::CloseConnection(&c);
}

TEST(SocketTest, SendToAPeerThatDoesNotReadTimesOut) {
  Peer peer;
  OpenPeer(&peer, 4, 4096);
  Connection c;
  ASSERT_TRUE(net::IsOk(Connect(peer, &c)));
  std::vector<uint8_t> big(32 << 20);
  uint64_t start = net::MonotonicMs();
  EXPECT_TRUE(IsTransport(net::SendAll(&c, big.data(), big.size(), 300), net::kReplyTimeout));
  EXPECT_LT(net::MonotonicMs() - start, 2000u);
  net::CloseConnection(&c);
}

TEST(SocketTest, ConnectFailures) {
  Peer bound;  // bound, not listening: the port answers with RST
  OpenPeer(&bound, -1);
  Connection c;
  EXPECT_TRUE(IsTransport(Connect(bound, &c), net::kConnectRefused));
  EXPECT_EQ(c.handle, -1);
  EXPECT_TRUE(IsTransport(net::ConnectTcp("::1", bound.port, 1000, net::MonotonicMs() + 1000, &c),
                          net::kConnectRefused));

  // A full accept queue drops further SYNs, so the attempt times out.
  Peer full;
  OpenPeer(&full, 0);
  Connection queued[4];
  Status last = net::OkStatus();
  uint64_t start = 0;
  for (Connection& q : queued) {
    start = net::MonotonicMs();
    last = Connect(full, &q, 300);
    if (!net::IsOk(last)) break;
  }
  EXPECT_TRUE(IsTransport(last, net::kConnectTimeout));
  EXPECT_LT(net::MonotonicMs() - start, 1500u);
  for (Connection& q : queued) net::CloseConnection(&q);

  // A deadline already past allows no attempt at all.
  EXPECT_TRUE(IsTransport(net::ConnectTcp("127.0.0.1", full.port, 1000, net::MonotonicMs() - 1, &c),
                          net::kConnectTimeout));
}

TEST(SocketTest, ClosedConnectionRefusesUse) {
  Connection c;
  uint8_t byte = 0;
  net::CloseConnection(&c);
  net::CloseConnection(&c);
  EXPECT_TRUE(IsTransport(net::SendAll(&c, &byte, 1, 10), net::kSocketFailure));
  EXPECT_TRUE(IsTransport(net::ReceiveExact(&c, &byte, 1, 10), net::kSocketFailure));
}

TEST(SocketTest, FillRandomFillsEveryByte) {
  std::vector<uint8_t> a(1 << 20), b(1 << 20);
  ASSERT_TRUE(net::FillRandom(a.data(), a.size()));
  ASSERT_TRUE(net::FillRandom(b.data(), b.size()));
  EXPECT_NE(a, b);
  // The tail too, not only what a first short read returned.
  EXPECT_NE(std::vector<uint8_t>(a.end() - 32, a.end()), std::vector<uint8_t>(32, 0));
  EXPECT_TRUE(net::FillRandom(nullptr, 0));
}

}  // namespace
