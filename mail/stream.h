// Byte output streams of the mail code. A stream takes bytes and hands them on, encoded or
// not, to the stream below it; every call returns a status (0 success, else the failure of
// the stream that failed first). The MIME writer, the transfer encoders and the socket
// output are built on these. A stream belongs to the thread that writes to it.
#pragma once

#include <cstdint>

#include "platform/status.h"

namespace mail {

using platform::Status;

class ISerialStream64Out {
 public:
  virtual ~ISerialStream64Out() = default;

  // Writes size bytes. Size 0 returns 0 without doing anything; null data with a non-zero
  // size returns 1. When written is given it receives what the stream below reported as
  // written (0 when nothing went on).
  virtual Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) = 0;
};

// A stream with a target that it writes to (not owned). Write checks its arguments as
// above and then calls WriteChunk, which by default forwards the bytes unchanged to the
// target; with no target it returns 1.
class Stream64AdapterBase : public ISerialStream64Out {
 public:
  Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) final;

  // size is at least 1 and data is not null.
  virtual Status WriteChunk(const void* data, std::uint64_t size, std::uint64_t* written);

  Status SetTarget(ISerialStream64Out* target) {
    target_ = target;
    return platform::kOk;
  }
  void ClearTarget() { target_ = nullptr; }
  ISerialStream64Out* Target() const { return target_; }

 protected:
  // Writes to the target, or returns 1 when there is none.
  Status WriteTarget(const void* data, std::uint64_t size, std::uint64_t* written = nullptr);

 private:
  ISerialStream64Out* target_ = nullptr;
};

// An encoding stream: Begin starts a new encoded run, Finish writes whatever is still
// pending. Both return 0 unless a subclass says otherwise.
class CodingBaseStream : public Stream64AdapterBase {
 public:
  virtual Status Begin() { return platform::kOk; }
  virtual Status Finish() { return platform::kOk; }
};

}  // namespace mail
