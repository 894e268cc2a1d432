#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/socket.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

namespace tovi::net {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int UnsentBound(SocketHandle s) {
  int bytes = 0;
  socklen_t size = sizeof bytes;
  ::getsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, &size);
  return bytes;
}

// A TV playing a film reads at the film's pace: its stream must arrive whole, and its send must
// keep a deeper queue than a fast one, or the sending thread wakes 8 times per MB.
TEST(FileSend, APeerReadingAtAFilmsPaceGetsEveryByteFromADeeperQueue) {
  testing::TempDir dir;
  std::string content;
  for (int i = 0; content.size() < (3u << 20); ++i) content += "frame " + std::to_string(i) + "\n";
  const std::string path = dir.Write("film.bin", content);

  testing::Connected tcp;  // local: the server's end; remote: the TV's
  std::string got;
  int boundAtStart = 0;
  std::thread tv([&] {  // 64 KiB every 20 ms, about 3 MB/s; at most 20 s
    static char buffer[64 << 10];
    const auto end = Clock::now() + 20s;
    while (got.size() < content.size() && Clock::now() < end) {
      if (WaitReadable(tcp.remote, 1000) != 1) continue;
      const long n = Recv(tcp.remote, buffer, sizeof buffer);
      if (n <= 0) break;
      if (got.empty()) boundAtStart = UnsentBound(tcp.local);
      got.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(20ms);
    }
  });
  fs::ReadOnlyFile file(path);
  const long long sent = SendFile(tcp.local, file.NativeHandle(), 0, content.size(), 5000, {});
  const int boundAtEnd = UnsentBound(tcp.local);
  tv.join();

  EXPECT_EQ(sent, static_cast<long long>(content.size()));
  EXPECT_EQ(got.size(), content.size());
  EXPECT_TRUE(got == content) << "the stream arrived changed";
  EXPECT_GT(boundAtStart, 0);
  EXPECT_GT(boundAtEnd, boundAtStart);
}

}  // namespace
}  // namespace tovi::net
