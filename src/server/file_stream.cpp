#include "server/file_stream.h"

#include <memory>
#include <stdexcept>

#include "http/byte_range.h"
#include "http/header_list.h"
#include "platform/files.h"

namespace tovi::server {

namespace {

// The framework's silent abort, with the text the engine's 500 answer carries.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// Reported ended however the sending ends (sent, cut off, failed).
class StreamingNotice {
 public:
  explicit StreamingNotice(const StreamOptions& options) : options_(options) {
    if (options_.activity) options_.activity->StreamStarted();
  }
  ~StreamingNotice() {
    if (options_.activity) options_.activity->StreamEnded();
  }
  StreamingNotice(const StreamingNotice&) = delete;
  StreamingNotice& operator=(const StreamingNotice&) = delete;

 private:
  const StreamOptions& options_;
};

// The status and header lines of the answer for a body of size bytes, sent; what part of the
// body goes out (*length 0: none).
void SendHead(std::uint64_t size, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response, const StreamOptions& options,
              std::uint64_t* first, std::uint64_t* length) {
  using http::RangeAnswer;
  const RangeAnswer answer = http::ResolveRange(request.Range(), size, first, length);
  http::TNetHeaderList& headers = response.CustomHeaders();
  headers.Clear();
  headers.SetValue("Accept-Ranges", "bytes");
  response.SetContentType(options.contentType);
  switch (answer) {
    case RangeAnswer::Whole:
      response.SetResponseCode(200);
      break;
    case RangeAnswer::Partial:
      response.SetResponseCode(206);
      headers.SetValue("Content-Range", "bytes " + std::to_string(*first) + "-" +
                                            std::to_string(*first + *length - 1) + "/" +
                                            std::to_string(size));
      break;
    case RangeAnswer::Unsatisfiable:
      response.SetResponseCode(416);
      response.SetStatusText("Range Not Satisfiable");
      headers.SetValue("Content-Range", "bytes */" + std::to_string(size));
      *length = 0;
      break;
  }
  // Added whole: a folded line (values such as a long flags field) is one many players misread.
  for (const auto& [name, value] : options.extraHeaders) headers.Add(name + ": " + value);
  response.SetContentLength(static_cast<std::int64_t>(*length));
  response.SendHeaders();
}

bool IsHead(const http::TNetHTTPRequestInfo& request) {
  return http::SameText(request.RequestMethod(), "HEAD");
}

}  // namespace

void StreamLocalFile(http::TNetTCPServerConnection& connection, const std::string& path,
                     http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
                     const StreamOptions& options) {
  std::unique_ptr<fs::ReadOnlyFile> file;
  try {
    file = std::make_unique<fs::ReadOnlyFile>(path);
  } catch (const std::exception&) {
    throw EAbort();
  }
  const std::int64_t signedSize = file->SizeAtOpening();
  if (signedSize < 0) throw EAbort();
  std::uint64_t size = static_cast<std::uint64_t>(signedSize);
  if (options.partLength) {
    if (options.partFirst > size || *options.partLength > size - options.partFirst) throw EAbort();
    size = *options.partLength;
  }
  std::uint64_t first = 0, length = 0;
  SendHead(size, request, response, options, &first, &length);
  if (IsHead(request)) return;
  if (length > 0) {
    const StreamingNotice streaming(options);
    // Only from here: the head, marked so, would wait for the file's first segment, which costs
    // more than the packet it saves.
    connection.SetClosingAfterWrites();
    connection.WriteFileRange(file->NativeHandle(), options.partFirst + first, length);
  }
  connection.EndConnection();
}

void StreamBytes(http::TNetTCPServerConnection& connection, std::string_view bytes,
                 http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
                 const StreamOptions& options) {
  std::uint64_t first = 0, length = 0;
  SendHead(bytes.size(), request, response, options, &first, &length);
  if (IsHead(request)) return;
  if (length > 0) {
    const StreamingNotice streaming(options);
    connection.Write(bytes.substr(first, length));
  }
  connection.EndConnection();
}

void AnswerNotFound(http::TNetHTTPResponseInfo& response) {
  response.SetResponseCode(404);
  response.SetBodyText("Not Found");
}

}  // namespace tovi::server
