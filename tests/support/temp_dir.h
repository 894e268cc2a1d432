// A fresh folder for one test, removed with everything in it when the test ends.
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

  // The folder (UTF-8) with the platform's separator at the end, as the program's paths are.
  std::string Folder() const {
    const std::u8string folder = path_.u8string();
    return std::string(folder.begin(), folder.end()) + fs::kSeparator;
  }
  std::string Path(const std::string& name) const { return Folder() + name; }

  // name and the result are UTF-8.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string p = Path(name);
    const std::filesystem::path file(std::u8string(p.begin(), p.end()));
    std::ofstream(file, std::ios::binary) << bytes;
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace tovi::testing

