#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
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
using testing::Connected;

int UnsentBound(SocketHandle s) {
  int bytes = 0;
  socklen_t size = sizeof bytes;
  ::getsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, &size);
  return bytes;
}

bool UseCongestionControl(SocketHandle s, const char* name) {
  return ::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_CONGESTION, name,
                      static_cast<socklen_t>(std::strlen(name))) == 0;
}

struct PacedSend {
  long long sent = 0;
  bool whole = false;
  int boundAtStart = 0;
  int boundAtEnd = 0;
};

// A TV playing a film: 3 MB read 64 KiB every 20 ms, about 3 MB/s, at most 20 s.
PacedSend SendToAPeerAtAFilmsPace(Connected& tcp, const std::string& path,
                                  const std::string& content) {
  PacedSend result;
  std::string got;
  std::thread tv([&] {
    static char buffer[64 << 10];
    const auto end = Clock::now() + 20s;
    while (got.size() < content.size() && Clock::now() < end) {
      if (WaitReadable(tcp.remote, 1000) != 1) continue;
      const long n = Recv(tcp.remote, buffer, sizeof buffer);
      if (n <= 0) break;
      if (got.empty()) result.boundAtStart = UnsentBound(tcp.local);
      got.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(20ms);
    }
  });
  fs::ReadOnlyFile file(path);
  result.sent = SendFile(tcp.local, file.NativeHandle(), 0, content.size(), 5000, {});
  result.boundAtEnd = UnsentBound(tcp.local);
  tv.join();
  result.whole = got == content;
  return result;
}

// The stream must arrive whole either way, and the send keeps a deeper queue for a slow peer, or
// its thread wakes 8 times per MB. A window congestion control gets a deeper queue from the
// start than a pacing one, whose own timers send what waits.
TEST(FileSend, APeerReadingAtAFilmsPaceGetsEveryByteUnderEitherCongestionControl) {
  testing::TempDir dir;
  std::string content;
  for (int i = 0; content.size() < (3u << 20); ++i) content += "frame " + std::to_string(i) + "\n";
  const std::string path = dir.Write("film.bin", content);
  const auto size = static_cast<long long>(content.size());

  Connected windowed;  // local: the server's end; remote: the TV's
  ASSERT_TRUE(UseCongestionControl(windowed.local, "reno"));
  const PacedSend byWindow = SendToAPeerAtAFilmsPace(windowed, path, content);
  EXPECT_EQ(byWindow.sent, size);
  EXPECT_TRUE(byWindow.whole) << "the stream arrived changed or short";
  EXPECT_GT(byWindow.boundAtEnd, byWindow.boundAtStart);

  Connected paced;
  if (!UseCongestionControl(paced.local, "bbr")) GTEST_SKIP() << "this kernel has no bbr";
  const PacedSend byPace = SendToAPeerAtAFilmsPace(paced, path, content);
  EXPECT_EQ(byPace.sent, size);
  EXPECT_TRUE(byPace.whole) << "the stream arrived changed or short";
  EXPECT_GT(byPace.boundAtStart, 0);
  EXPECT_GT(byPace.boundAtEnd, byPace.boundAtStart);
  EXPECT_GT(byWindow.boundAtStart, byPace.boundAtStart);
}

}  // namespace
}  // namespace tovi::net
