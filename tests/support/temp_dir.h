// A fresh folder for one test, removed with everything in it when the test ends.
// Names and returned paths are UTF-8, as the program's paths are.
#pragma once
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "platform/files.h"

namespace tovi::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("tovi-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Root() const { return path_; }
  // The folder with no separator at the end, as a user picks it in a folder dialog.
  std::string Native() const {
    const std::u8string folder = path_.u8string();
    return std::string(folder.begin(), folder.end());
  }
  // The folder with the platform's separator at the end, as the program's paths are.
  std::string Folder() const { return Native() + fs::kSeparator; }
  std::string Path(const std::string& name) const { return Folder() + name; }

  // Writes a file from a path relative to the folder ("/" separated), making its folders.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    const std::filesystem::path file = Under(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return Utf8(file);
  }
  std::string MakeFolder(const std::string& relative) const {
    const std::filesystem::path folder = Under(relative);
    std::filesystem::create_directories(folder);
    return Utf8(folder);
  }

 private:
  std::filesystem::path Under(const std::string& relative) const {
    return path_ / std::filesystem::path(std::u8string(relative.begin(), relative.end())).make_preferred();
  }
  static std::string Utf8(const std::filesystem::path& p) {
    const std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
  }

  std::filesystem::path path_;
};

}  // namespace tovi::testing
