// A file open for binary writing that gathers small writes into blocks of
// 64 KiB. The transfer hands over 1024 bytes at a time, and one system call
// for each would cost more than the download itself on a fast link. The
// platform supplies only the raw file.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/Host.h"

namespace ovlu {

// The platform's open file: writes everything it is given or throws VbError.
struct RawFile {
  virtual ~RawFile() = default;
  virtual void WriteAll(const unsigned char* data, std::size_t size) = 0;
  virtual void Close() = 0;  // called once
};

class GatheringFile final : public BinaryFile {
 public:
  explicit GatheringFile(std::unique_ptr<RawFile> raw);
  ~GatheringFile() override;  // closes; a failure to write out is dropped then
  GatheringFile(const GatheringFile&) = delete;
  GatheringFile& operator=(const GatheringFile&) = delete;

  void Write(const unsigned char* data, std::size_t size) override;
  // What is still gathered is written first; a failure to write it is
  // reported after the file has been closed.
  void Close() override;

  // Writes out what every open file still holds, for a process that is
  // about to end at once: what was received stays on disk as far as it got.
  static void FlushAll();

  static constexpr std::size_t kBlockSize = 64 * 1024;

 private:
  void Flush();

  std::unique_ptr<RawFile> raw_;
  std::vector<unsigned char> block_;
};

}  // namespace ovlu
