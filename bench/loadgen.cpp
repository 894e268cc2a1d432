// The benchmarks' own HTTP load generator, so our server and the anchor are measured by the same
// client. It connects to 127.0.0.1, or to the IPv4 address in LOADGEN_HOST. Every request is a
// fresh connection, as the TV makes them.
//
//   loadgen stream PORT PATH                          one GET of the whole file
//   loadgen ranges PORT PATH FILESIZE CLIENTS SECONDS  random 4 MiB ranges, each client in a loop
//   loadgen small  PORT PATH CLIENTS SECONDS           GET with Connection: close, in a loop
//   loadgen idle   PORT COUNT SECONDS                  holds COUNT idle connections
//   loadgen slowstream PORT PATH CLIENTS SECONDS       CLIENTS whole-file streams, held open
//   loadgen paced PORT PATH CLIENTS SECONDS MBPS       CLIENTS whole-file streams, each read at
//                                                      MBPS MB/s, as a TV plays a film
//   loadgen bodies PORT METHOD CLIENTS MIB             CLIENTS requests, each with a MIB MiB body
//
// Prints one line of key=value figures (cpu_us: its own processor time, all threads; head_*_ms:
// from connecting to the answer's whole head, the least a TV waits after a seek); exit status 1
// when a request failed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kRangeBytes = 4ull << 20;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The process's processor time so far, user and system, all threads.
long long CpuMicroseconds() {
  rusage u{};
  if (::getrusage(RUSAGE_SELF, &u) != 0) return -1;
  return static_cast<long long>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 +
         u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

in_addr_t ServerAddress() {
  static const in_addr_t address = [] {
    const char* host = std::getenv("LOADGEN_HOST");
    return host != nullptr ? ::inet_addr(host) : htonl(INADDR_LOOPBACK);
  }();
  return address;
}

int Connect(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = ServerAddress();
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

bool SendAll(int s, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = ::send(s, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

struct Answer {
  bool ok = false;
  int status = 0;
  std::uint64_t bodyBytes = 0;
  double headSeconds = 0;  // from connecting to the end of the head
};

// One request on a fresh connection; reads the head, then the body to its length or the close.
Answer Fetch(int port, const std::string& path, const std::string& extraHeaders) {
  Answer answer;
  const auto start = Clock::now();
  int s = Connect(port);
  if (s < 0) return answer;
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                              "Connection: close\r\n\r\n";
  if (!SendAll(s, request)) {
    ::close(s);
    return answer;
  }
  static thread_local std::vector<char> buffer(1 << 20);
  std::string head;
  std::int64_t length = -1;
  std::uint64_t body = 0;
  bool inBody = false;
  for (;;) {
    ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    if (inBody) {
      body += static_cast<std::uint64_t>(n);
    } else {
      head.append(buffer.data(), static_cast<std::size_t>(n));
      std::size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      body = head.size() - end - 4;
      head.resize(end);
      inBody = true;
      answer.headSeconds = Seconds(Clock::now() - start);
      answer.status = std::atoi(head.c_str() + std::min<std::size_t>(9, head.size()));
      for (std::size_t p = 0; (p = head.find("\r\n", p)) != std::string::npos;) {
        p += 2;
        if (strncasecmp(head.c_str() + p, "Content-Length:", 15) == 0) {
          length = std::atoll(head.c_str() + p + 15);
        }
      }
    }
    if (length >= 0 && body >= static_cast<std::uint64_t>(length)) break;
  }
  ::close(s);
  answer.bodyBytes = body;
  answer.ok = inBody && (length < 0 || body == static_cast<std::uint64_t>(length));
  return answer;
}

struct Tally {
  std::mutex lock;
  std::vector<double> latencies;  // seconds
  std::vector<double> heads;      // seconds
  std::uint64_t bytes = 0;
  std::uint64_t failures = 0;
};

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// CLIENTS threads, each fetching in a loop until SECONDS have passed: make(random, &bytes, &head)
// fetches once and says whether it succeeded.
template <typename MakeRequest>
int Loop(int clients, double seconds, MakeRequest make, const char* mode) {
  Tally tally;
  const auto start = Clock::now();
  const auto until = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      std::mt19937_64 random(0x9e3779b97f4a7c15ull * static_cast<unsigned>(c + 1));
      std::vector<double> mine, heads;
      std::uint64_t bytes = 0, failures = 0;
      while (Clock::now() < until) {
        const auto t0 = Clock::now();
        double head = 0;
        const bool ok = make(random, &bytes, &head);
        if (ok) {
          mine.push_back(Seconds(Clock::now() - t0));
          heads.push_back(head);
        } else {
          ++failures;
          if (failures > 1000) break;
        }
      }
      std::lock_guard<std::mutex> guard(tally.lock);
      tally.latencies.insert(tally.latencies.end(), mine.begin(), mine.end());
      tally.heads.insert(tally.heads.end(), heads.begin(), heads.end());
      tally.bytes += bytes;
      tally.failures += failures;
    });
  }
  for (auto& t : threads) t.join();
  const double elapsed = Seconds(Clock::now() - start);
  const std::size_t done = tally.latencies.size();
  const double p50 = Percentile(tally.latencies, 0.50) * 1000;
  const double p99 = Percentile(tally.latencies, 0.99) * 1000;
  std::printf("mode=%s clients=%d seconds=%.2f requests=%zu failures=%llu rps=%.1f mbps=%.1f "
              "p50_ms=%.3f p99_ms=%.3f head_p50_ms=%.3f head_p99_ms=%.3f cpu_us=%lld\n",
              mode, clients, elapsed, done, static_cast<unsigned long long>(tally.failures),
              static_cast<double>(done) / elapsed,
              static_cast<double>(tally.bytes) / elapsed / 1e6, p50, p99,
              Percentile(tally.heads, 0.50) * 1000, Percentile(tally.heads, 0.99) * 1000,
              CpuMicroseconds());
  return tally.failures == 0 && done > 0 ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: loadgen stream PORT PATH | ranges PORT PATH FILESIZE CLIENTS SECONDS |\n"
               "       small PORT PATH CLIENTS SECONDS | idle PORT COUNT SECONDS |\n"
               "       slowstream PORT PATH CLIENTS SECONDS | bodies PORT METHOD CLIENTS MIB |\n"
               "       paced PORT PATH CLIENTS SECONDS MBPS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  const int port = std::atoi(argv[2]);

  if (mode == "stream" && argc == 4) {
    const auto t0 = Clock::now();
    const Answer a = Fetch(port, argv[3], "");
    const double s = Seconds(Clock::now() - t0);
    std::printf("mode=stream status=%d bytes=%llu seconds=%.3f mbps=%.1f\n", a.status,
                static_cast<unsigned long long>(a.bodyBytes), s,
                static_cast<double>(a.bodyBytes) / s / 1e6);
    return a.ok && a.status == 200 ? 0 : 1;
  }
  if (mode == "ranges" && argc == 7) {
    const std::string path = argv[3];
    const std::uint64_t size = std::strtoull(argv[4], nullptr, 10);
    if (size < kRangeBytes) return Usage();
    return Loop(std::atoi(argv[5]), std::atof(argv[6]),
                [&](std::mt19937_64& random, std::uint64_t* bytes, double* head) {
                  const std::uint64_t first = random() % (size - kRangeBytes + 1);
                  const Answer a = Fetch(port, path,
                                         "Range: bytes=" + std::to_string(first) + "-" +
                                             std::to_string(first + kRangeBytes - 1) + "\r\n");
                  *bytes += a.bodyBytes;
                  *head = a.headSeconds;
                  return a.ok && a.status == 206 && a.bodyBytes == kRangeBytes;
                },
                "ranges");
  }
  if (mode == "small" && argc == 6) {
    const std::string path = argv[3];
    return Loop(std::atoi(argv[4]), std::atof(argv[5]),
                [&](std::mt19937_64&, std::uint64_t* bytes, double* head) {
                  const Answer a = Fetch(port, path, "");
                  *bytes += a.bodyBytes;
                  *head = a.headSeconds;
                  return a.ok && a.status == 200;
                },
                "small");
  }
  if (mode == "idle" && argc == 5) {
    const int count = std::atoi(argv[3]);
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
      int s = Connect(port);
      if (s >= 0) sockets.push_back(s);
    }
    std::printf("mode=idle holding=%zu\n", sockets.size());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(argv[4])));
    for (int s : sockets) ::close(s);
    return sockets.size() == static_cast<std::size_t>(count) ? 0 : 1;
  }
  if (mode == "slowstream" && argc == 6) {
    // Each client reads its whole-file stream slowly enough to stay connected for SECONDS.
    const std::string path = argv[3];
    const int clients = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&] {
        int s = Connect(port);
        if (s < 0) return;
        int small = 65536;
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        if (!SendAll(s, "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n")) {
          ::close(s);
          return;
        }
        ++started;
        std::vector<char> buffer(65536);
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
        while (Clock::now() < until) {
          if (::recv(s, buffer.data(), buffer.size(), 0) <= 0) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(s);
      });
    }
    for (auto& t : threads) t.join();
    std::printf("mode=slowstream clients=%d started=%d\n", clients, started.load());
    return started == clients ? 0 : 1;
  }
  if (mode == "paced" && argc == 7) {
    // Each client reads 64 KiB at a time, never ahead of MBPS since its first byte.
    const std::string path = argv[3];
    const int clients = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    const double bytesPerSecond = std::atof(argv[6]) * 1e6;
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    std::atomic<std::uint64_t> total{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&] {
        int s = Connect(port);
        if (s < 0 || !SendAll(s, "GET " + path +
                                     " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")) {
          ++failures;
          if (s >= 0) ::close(s);
          return;
        }
        std::vector<char> buffer(65536);
        const auto start = Clock::now();
        std::uint64_t got = 0;
        while (Clock::now() < until) {
          const ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
          if (n <= 0) {
            ++failures;  // the file is long enough to last the run
            break;
          }
          got += static_cast<std::uint64_t>(n);
          const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(got / bytesPerSecond));
          std::this_thread::sleep_until(std::min(due, until));
        }
        ::close(s);
        total += got;
      });
    }
    for (auto& t : threads) t.join();
    std::printf("mode=paced clients=%d seconds=%.2f requests=%d failures=%d mb=%.1f mbps=%.1f "
                "cpu_us=%lld\n",
                clients, seconds, clients, failures.load(), static_cast<double>(total) / 1e6,
                static_cast<double>(total) / 1e6 / seconds, CpuMicroseconds());
    return failures == 0 ? 0 : 1;
  }
  if (mode == "bodies" && argc == 6) {
    // Each client sends its body as fast as the server takes it (or until it closes), then waits
    // for the answer; prints how many were answered and how many the server closed unanswered.
    const std::string method = argv[3];
    const int clients = std::atoi(argv[4]);
    const std::size_t bytes = static_cast<std::size_t>(std::atoi(argv[5])) << 20;
    std::atomic<int> answered{0}, refused{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&] {
        int s = Connect(port);
        if (s < 0) return;
        const timeval limit{60, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        SendAll(s, method + " /test HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                       std::to_string(bytes) + "\r\n\r\n");
        const std::string piece(1 << 16, 'b');
        for (std::size_t sent = 0; sent < bytes && SendAll(s, piece); sent += piece.size()) {
        }
        char first[16] = {};
        (::recv(s, first, sizeof first, 0) > 0 ? answered : refused) += 1;
        ::close(s);
      });
    }
    for (auto& t : threads) t.join();
    std::printf("mode=bodies method=%s clients=%d answered=%d refused=%d\n", method.c_str(),
                clients, answered.load(), refused.load());
    return 0;
  }
  return Usage();
}
