#include "platform/GatheringFile.h"

#include <optional>
#include <set>

namespace ovlu {
namespace {

std::set<GatheringFile*>& OpenFiles() {
  static std::set<GatheringFile*> files;
  return files;
}

}  // namespace

GatheringFile::GatheringFile(std::unique_ptr<RawFile> raw) : raw_(std::move(raw)) {
  block_.reserve(kBlockSize);
  OpenFiles().insert(this);
}

GatheringFile::~GatheringFile() {
  try {
    Close();
  } catch (const VbError&) {
  }
}

void GatheringFile::Write(const unsigned char* data, std::size_t size) {
  if (!raw_) throw VbError(errInvalidCall, "file is closed");
  if (block_.size() + size > kBlockSize) Flush();
  if (size >= kBlockSize) {
    raw_->WriteAll(data, size);
    return;
  }
  block_.insert(block_.end(), data, data + size);
}

void GatheringFile::Close() {
  if (!raw_) return;
  OpenFiles().erase(this);
  std::optional<VbError> failure;
  try {
    Flush();
  } catch (const VbError& e) {
    failure = e;
  }
  std::unique_ptr<RawFile> raw = std::move(raw_);
  raw->Close();
  if (failure) throw *failure;
}

// The block is emptied whether the write succeeds or not, so that a failed
// block is not written again by Close; it keeps its capacity.
void GatheringFile::Flush() {
  if (block_.empty()) return;
  struct Empty {
    std::vector<unsigned char>& block;
    ~Empty() { block.clear(); }
  } empty{block_};
  raw_->WriteAll(block_.data(), block_.size());
}

void GatheringFile::FlushAll() {
  for (GatheringFile* file : OpenFiles()) {
    try {
      file->Flush();
    } catch (const VbError&) {
      // The process is ending; what could not be written is lost either way.
    }
  }
}

}  // namespace ovlu
