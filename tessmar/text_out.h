#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tessmar {

// Decides whether a run may still touch its files; an abandoned run's writer
// drops everything it still holds.
class WriteGate {
 public:
  std::mutex& Mutex() { return mutex_; }
  bool Open() const { return open_; }  // call with Mutex() held
  void Close() { open_ = false; }      // call with Mutex() held

 private:
  std::mutex mutex_;
  bool open_ = true;
};

// A buffered output file. Text stores every "\n" as CR LF, as the index files
// are text files of a CR LF system; Write stores bytes as given. Data reaches
// the disk only while the gate is open.
class OutFile {
 public:
  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Creates or truncates `path`; false when that fails.
  bool Create(const std::string& path, WriteGate* gate);
  bool IsOpen() const { return fd_ >= 0; }
  void Text(std::string_view text);
  void Write(const void* data, size_t size);
  // Writes what is buffered and closes; an abandoned run only closes.
  void Close();

 private:
  void Flush();
  void AppendText(const char* text, size_t size);

  int fd_ = -1;
  WriteGate* gate_ = nullptr;
  std::string buffer_;
};

}  // namespace tessmar
