// A private folder under the system's temporary folder, removed with everything in it.
#pragma once
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace tovi::remote::testing {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tovi-remote-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder as the program spells it: UTF-8, native separators, no trailing one.
  std::string Native() const {
    const std::u8string folder = path_.u8string();
    return std::string(folder.begin(), folder.end());
  }

  // Writes a file (creating its folders) from a path relative to the folder, "/" separated,
  // UTF-8.
  std::filesystem::path Write(const std::string& relative, const std::string& bytes) const {
    const std::u8string name(relative.begin(), relative.end());
    const std::filesystem::path file = path_ / std::filesystem::path(name).make_preferred();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  std::filesystem::path MakeFolder(const std::string& relative) const {
    const std::filesystem::path folder = path_ / std::filesystem::path(relative).make_preferred();
    std::filesystem::create_directories(folder);
    return folder;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace tovi::remote::testing
