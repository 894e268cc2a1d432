// Fuzzes the multipart form body: any fields, read back in any piece sizes. The bytes must
// equal one full read, their count the size announced before the first read, and a rewind
// must give the same body again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/client/multipart.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Takes bytes from the front of the input.
struct Reader {
  const std::uint8_t* data;
  std::size_t left;
  std::uint8_t Byte() {
    if (left == 0) return 0;
    --left;
    return *data++;
  }
  std::string Text(std::size_t max) {
    std::size_t n = Byte();
    if (n > max) n = max;
    if (n > left) n = left;
    std::string s(reinterpret_cast<const char*>(data), n);
    data += n;
    left -= n;
    return s;
  }
};

std::string ReadAll(tovi::http::TStream& stream, Reader* sizes) {
  std::string out;
  std::vector<char> buffer(70000);
  for (int guard = 0; guard < 1000000; ++guard) {
    std::size_t want = 1;
    if (sizes && sizes->left > 0) {
      const std::uint8_t b = sizes->Byte();
      want = b < 200 ? b : (static_cast<std::size_t>(b - 199) * 1237) % buffer.size();
    } else {
      want = buffer.size();
    }
    const std::size_t got = stream.Read(buffer.data(), want);
    if (got > want) Fail("read more than asked");
    if (got == 0 && want > 0) return out;
    out.append(buffer.data(), got);
  }
  Fail("stream never ended");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  tovi::http::BoundaryTime at;
  at.year = 2000 + in.Byte() % 100;
  at.month = 1 + in.Byte() % 12;
  at.day = 1 + in.Byte() % 31;
  at.millisecond = in.Byte() * 3;
  tovi::http::TNetMultiPartFormDataStream one(at), two(at);
  // The program never sends a body without fields; one to eight.
  const int fields = 1 + in.Byte() % 8;
  for (int i = 0; i < fields; ++i) {
    const std::string name = in.Text(40);
    const std::string value = in.Text(255) + std::string(in.Byte() % 4 * 3000, 'v');
    one.AddTextField(name, value);
    two.AddTextField(name, value);
  }
  const std::int64_t announced = one.Size();
  const std::string whole = ReadAll(one, nullptr);
  if (static_cast<std::int64_t>(whole.size()) != announced) Fail("size differs from bytes read");
  if (one.Position() != announced) Fail("position after the end");
  if (one.Size() != announced) Fail("size changed by reading");

  const std::string pieces = ReadAll(two, &in);
  if (pieces != whole) Fail("piecewise read differs from one full read");

  two.SetPosition(0);
  if (two.Position() != 0) Fail("rewind");
  if (ReadAll(two, &in) != whole) Fail("second read after a rewind differs");
  return 0;
}
