// Byte output streams of the mail code. A stream takes bytes and hands them on, encoded or
// not, to the stream below it; every call returns a status (0 success, else the failure of
// the stream that failed first). The MIME writer, the transfer encoders and the socket
// output are built on these. A stream belongs to the thread that writes to it.
#pragma once

#include <cstdint>

#include "platform/status.h"

namespace mail {

using Status = platform::Status;

class ISerialStream64Out {
 public:
  virtual ~ISerialStream64Out() = default;

  // Writes size bytes. Size 0 returns 0 without doing anything; null data with a non-zero
  // size returns 1. When written is given it receives what the stream below reported as
  // written (0 when nothing went on).
  virtual Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) = 0;
};

// A stream that passes what is written to it on to a target stream (not owned).
// Write: size 0 gives 0 without a further call, null data with a non-zero size gives 1,
// anything else goes to WriteChunk. The plain WriteChunk forwards unchanged and gives 1
// when there is no target.
class Stream64AdapterBase : public ISerialStream64Out {
 public:
  Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) final;

  virtual Status SetTarget(ISerialStream64Out* target);
  virtual void ClearTarget();
  ISerialStream64Out* Target() const { return target_; }

 protected:
  // size is at least 1 and data is not null.
  virtual Status WriteChunk(const std::uint8_t* data, std::uint64_t size, std::uint64_t* written);

  // Writes to the target; 1 when there is none.
  Status WriteToTarget(const void* data, std::uint64_t size, std::uint64_t* written);

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
