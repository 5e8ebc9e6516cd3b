// A TCP relay on loopback that makes a wide-area link of the way to a
// server, for bench/run (the kernel here has no netem):
//
//   wan_relay LISTEN-PORT TARGET-PORT DELAY-MS RATE-MBIT READY-FILE
//
// Each direction is one link shared by every connection: bytes queue for
// the wire at RATE-MBIT Mbit/s, then arrive DELAY-MS after they have left.
// A new connection reaches the target after the round trip of a handshake.
// At most twice the bandwidth-delay product (256 KiB at least) waits in
// each direction of a connection; a faster sender then waits, as on a full
// router queue. The file READY-FILE is created once the relay listens; it
// runs until killed. A bench tool, Linux only: one thread, poll.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Now() {
  return std::chrono::duration<double>(TClock::now().time_since_epoch()).count();
}

struct TLink {
  double Delay;  // seconds
  double Rate;   // bytes per second
  double Free = 0;

  // When `size` bytes handed to the link now arrive at its other end.
  double Arrival(size_t size) {
    const double start = std::max(Now(), Free);
    Free = start + static_cast<double>(size) / Rate;
    return Free + Delay;
  }
};

struct TChunk {
  double At;
  std::string Bytes;  // empty: the sender's end of stream
  size_t Sent = 0;
};

struct TDirection {
  int From = -1;
  int To = -1;
  TLink* Link = nullptr;
  std::deque<TChunk> Queue;
  size_t Queued = 0;
  bool ReadEnded = false;   // the sender's end of stream is queued
  bool WriteEnded = false;  // and delivered
  bool Failed = false;      // the receiver is gone
};

struct TPair {
  int Client = -1;
  int Server = -1;
  double ConnectAt = 0;
  TDirection Up, Down;
  bool Dead = false;
};

void NonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

constexpr size_t kPiece = 16 * 1024;  // the pacing's grain: 1.3 ms at 100 Mbit/s

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: wan_relay LISTEN-PORT TARGET-PORT DELAY-MS RATE-MBIT READY-FILE\n");
    return 2;
  }
  const int listenPort = std::atoi(argv[1]);
  const int targetPort = std::atoi(argv[2]);
  const double delay = std::atof(argv[3]) / 1000;
  const double rate = std::atof(argv[4]) * 1e6 / 8;
  const size_t limit = std::max<size_t>(256 * 1024, static_cast<size_t>(2 * rate * 2 * delay));
  TLink up{delay, rate};
  TLink down{delay, rate};

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(listenPort));
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 128) != 0) {
    std::perror("wan_relay: listen");
    return 1;
  }
  std::ofstream(argv[5]).close();

  std::vector<std::unique_ptr<TPair>> pairs;
  for (;;) {
    const double now = Now();
    double wake = now + 1;
    std::vector<pollfd> polls{{listener, POLLIN, 0}};
    // What each poll entry is for: the direction and whether it reads.
    std::vector<std::pair<TDirection*, bool>> roles{{nullptr, false}};
    for (auto& pair : pairs) {
      if (pair->Server < 0) {
        if (now < pair->ConnectAt) {
          wake = std::min(wake, pair->ConnectAt);
          continue;
        }
        sockaddr_in target = address;
        target.sin_port = htons(static_cast<uint16_t>(targetPort));
        pair->Server = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(pair->Server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
          pair->Dead = true;
          continue;
        }
        NonBlocking(pair->Server);
        pair->Up.From = pair->Down.To = pair->Client;
        pair->Up.To = pair->Down.From = pair->Server;
        pair->Up.Link = &up;
        pair->Down.Link = &down;
      }
      for (TDirection* d : {&pair->Up, &pair->Down}) {
        if (!d->ReadEnded && d->Queued < limit) {
          polls.push_back({d->From, POLLIN, 0});
          roles.emplace_back(d, true);
        }
        if (!d->Queue.empty()) {
          if (d->Queue.front().At <= now) {
            polls.push_back({d->To, POLLOUT, 0});
            roles.emplace_back(d, false);
          } else {
            wake = std::min(wake, d->Queue.front().At);
          }
        }
      }
    }
    // Rounded up: a wait cut short would spin until the chunk is due.
    const int timeoutMs = static_cast<int>(std::ceil(std::max(0.0, (wake - now) * 1000)));
    if (poll(polls.data(), polls.size(), timeoutMs) < 0) continue;

    if (polls[0].revents & POLLIN) {
      const int client = accept(listener, nullptr, nullptr);
      if (client >= 0) {
        NonBlocking(client);
        auto pair = std::make_unique<TPair>();
        pair->Client = client;
        pair->ConnectAt = Now() + 2 * delay;  // the handshake's round trip
        pairs.push_back(std::move(pair));
      }
    }
    char buffer[kPiece];
    for (size_t i = 1; i < polls.size(); ++i) {
      if (polls[i].revents == 0) continue;
      TDirection* d = roles[i].first;
      if (roles[i].second) {
        const ssize_t got = recv(d->From, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) {  // the end of the stream, or a reset taken as one
          d->ReadEnded = true;
          d->Queue.push_back({d->Link->Arrival(0), std::string()});
        } else {
          d->Queue.push_back({d->Link->Arrival(static_cast<size_t>(got)),
                              std::string(buffer, static_cast<size_t>(got))});
          d->Queued += static_cast<size_t>(got);
        }
        continue;
      }
      while (!d->Queue.empty() && d->Queue.front().At <= Now()) {
        TChunk& chunk = d->Queue.front();
        if (chunk.Bytes.empty()) {
          shutdown(d->To, SHUT_WR);
          d->WriteEnded = true;
          d->Queue.pop_front();
          break;
        }
        const ssize_t sent = send(d->To, chunk.Bytes.data() + chunk.Sent,
                                  chunk.Bytes.size() - chunk.Sent, MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EINTR) d->Failed = true;
        if (sent <= 0) break;
        chunk.Sent += static_cast<size_t>(sent);
        if (chunk.Sent < chunk.Bytes.size()) break;
        d->Queued -= chunk.Bytes.size();
        d->Queue.pop_front();
      }
    }
    // A connection ends once both directions have delivered their end, or
    // when the target could not be reached.
    for (auto& pair : pairs) {
      if (pair->Dead || pair->Up.Failed || pair->Down.Failed ||
          (pair->Server >= 0 && pair->Up.WriteEnded && pair->Down.WriteEnded)) {
        close(pair->Client);
        if (pair->Server >= 0) close(pair->Server);
        pair.reset();
      }
    }
    pairs.erase(std::remove(pairs.begin(), pairs.end(), nullptr), pairs.end());
  }
}
