// The runtime's input/output error, as raised by file operations and shown by the framework.
#pragma once
#include <stdexcept>
#include <string>

namespace tovi {

class EInOutError : public std::runtime_error {
 public:
  EInOutError(int errorCode, const std::string& message)
      : std::runtime_error(message), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

  // The runtime's texts for a Windows error code: 2 "File not found", 3 "Path not found",
  // 5 "File access denied", 112 "Disk full", otherwise "I/O error N".
  static EInOutError FromCode(int windowsErrorCode);

 private:
  int errorCode_;
};

}  // namespace tovi
