// The facts of a file or folder on the disk: a file's through the container reader its extension
// names (media::ReadFacts), a folder's poster found in its listing with the poster's own picture
// size. Each file is read through one open handle within ByteSource's budget.
// Errors: a file (or a folder's poster) that cannot be opened throws EInOutError, so that it is
// read again once another program lets go of it; one that cannot be read gives empty facts.
// Thread safety: independent calls; each opens its own file.
#pragma once
#include <cstdint>
#include <string>

#include "dlna/facts_cache.h"
#include "media/facts.h"
#include "platform/files.h"

namespace tovi::dlna {

// An open file read at offsets, closed with the source.
class FileSource : public media::ByteSource {
 public:
  // Throws EInOutError when the file cannot be opened.
  explicit FileSource(const std::string& path);
  std::uint64_t Size() const override { return size_; }

 protected:
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t length) override;

 private:
  fs::ReadOnlyFile file_;
  std::uint64_t size_;
};

// The facts of path, a folder's when stamp.directory (path then ends with the separator).
// Throws EInOutError when the file or the folder's poster cannot be opened.
FileFacts ReadPathFacts(const std::string& path, const fs::FileStamp& stamp);

}  // namespace tovi::dlna
