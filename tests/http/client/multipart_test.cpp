// The multipart body must be byte-exact (the list service parses it) and its size must match
// what a read yields (it goes out as Content-Length).
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "http/client/multipart.h"

namespace tovi::http {
namespace {

const BoundaryTime kExampleTime{2026, 12, 7, 0, 35, 12, 345};

std::string ReadInPieces(TStream& stream, std::size_t piece) {
  std::string out;
  std::vector<char> buffer(piece);
  for (int guard = 0; guard < 1000000; ++guard) {
    const std::size_t n = stream.Read(buffer.data(), piece);
    if (n == 0) break;
    EXPECT_LE(n, piece);
    out.append(buffer.data(), n);
  }
  return out;
}

TEST(MultipartBody, OneTextFieldIsTheDocumentedHundredAndTenBytes) {
  TNetMultiPartFormDataStream form(kExampleTime);
  form.AddTextField("text", "abc");
  EXPECT_EQ(form.Boundary(), "--------120726003512345");
  EXPECT_EQ(form.FormContentType(), "multipart/form-data; boundary=--------120726003512345");
  EXPECT_EQ(form.Size(), 110);
  const std::string expected =
      "----------120726003512345\r\n"
      "Content-Disposition: form-data; name=\"text\"\r\n"
      "\r\n"
      "abc\r\n"
      "\r\n"
      "----------120726003512345--\r\n";
  ASSERT_EQ(expected.size(), 110u);
  EXPECT_EQ(ReadInPieces(form, 32768), expected);
  EXPECT_EQ(form.Position(), 110);
}

TEST(MultipartBody, AnyPieceSizeYieldsTheSameBytesAndTheAnnouncedSize) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"text", "#EXTM3U\r\n#EXTINF:-1,Film\r\nhttp://x/%D0%A4%20a.mp4\r\n"},
      {"fdir", "C:\\\xc2\xe8\xe4\xe5\xee\\"},  // Windows-1251 letters
      {"na\"me", std::string("nul\0byte", 8)},
      {"empty", ""}};
  TNetMultiPartFormDataStream whole(kExampleTime);
  for (const auto& [name, value] : fields) whole.AddTextField(name, value);
  const std::string reference = ReadInPieces(whole, 1 << 20);
  ASSERT_EQ(static_cast<std::int64_t>(reference.size()), whole.Size());
  // Names are not escaped; values go out unchanged.
  EXPECT_NE(reference.find("name=\"na\"me\"\r\n\r\nnul"), std::string::npos);
  EXPECT_NE(reference.find(fields[0].second + "\r\n--"), std::string::npos);

  for (std::size_t piece : {1u, 2u, 3u, 7u, 27u, 64u, 109u, 110u, 32768u}) {
    TNetMultiPartFormDataStream form(kExampleTime);
    for (const auto& [name, value] : fields) form.AddTextField(name, value);
    EXPECT_EQ(ReadInPieces(form, piece), reference) << "piece " << piece;
    EXPECT_EQ(form.Read(nullptr, 0), 0u);
  }
}

TEST(MultipartBody, RewindRepeatsTheBodyAndOtherSeeksDoNotMove) {
  TNetMultiPartFormDataStream form(kExampleTime);
  form.AddTextField("text", "abc");
  form.AddTextField("more", "def");
  const std::string first = ReadInPieces(form, 5);
  char byte = 0;
  EXPECT_EQ(form.Read(&byte, 1), 0u) << "exhausted until rewound";

  form.SetPosition(0);
  EXPECT_EQ(form.Position(), 0);
  char head[10];
  ASSERT_EQ(form.Read(head, sizeof head), sizeof head);
  EXPECT_EQ(form.Position(), 10);
  const std::int64_t size = form.Size();
  EXPECT_EQ(size, static_cast<std::int64_t>(first.size()));
  form.SetPosition(3);
  EXPECT_EQ(form.Position(), 10);
  form.SetPosition(size);
  EXPECT_EQ(form.Position(), 10);
  EXPECT_EQ(std::string(head, 10) + ReadInPieces(form, 3), first);

  form.SetPosition(0);
  EXPECT_EQ(ReadInPieces(form, 1), first);
}

TEST(MultipartBody, RefusesWrites) {
  TNetMultiPartFormDataStream form;
  try {
    form.Write("x", 1);
    FAIL() << "write accepted";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Unsupported operation.");
  }
}

TEST(MultipartBody, BoundaryComesFromTheLocalClock) {
  const std::time_t before = std::time(nullptr);
  TNetMultiPartFormDataStream form;
  const std::string b = form.Boundary();
  ASSERT_EQ(b.size(), 23u);
  EXPECT_EQ(b.substr(0, 8), "--------");
  for (char c : b.substr(8)) EXPECT_TRUE(c >= '0' && c <= '9') << b;
  std::tm local = *std::localtime(&before);
  EXPECT_EQ(std::stoi(b.substr(8, 2)), local.tm_mon + 1);
  EXPECT_EQ(std::stoi(b.substr(12, 2)), local.tm_year % 100);
  EXPECT_LE(std::stoi(b.substr(14, 2)), 23);
  EXPECT_LE(std::stoi(b.substr(20, 3)), 999);

  const BoundaryTime late{1999, 1, 2, 23, 4, 5, 6};
  EXPECT_EQ(TNetMultiPartFormDataStream::MakeBoundary(late), "--------010299230405006");
  EXPECT_EQ(TNetMultiPartFormDataStream(late).Boundary(),
            TNetMultiPartFormDataStream(late).Boundary());
}

TEST(MultipartBody, FormWithoutFieldsAnnouncesWhatItYields) {
  TNetMultiPartFormDataStream form(kExampleTime);
  EXPECT_EQ(form.Size(), static_cast<std::int64_t>(ReadInPieces(form, 32768).size()));
}

}  // namespace
}  // namespace tovi::http
