#include "mail/stream.h"

namespace mail {

Status Stream64AdapterBase::Write(const void* data, std::uint64_t size, std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  if (size == 0) return platform::kOk;
  if (data == nullptr) return platform::kFailure;
  return WriteChunk(data, size, written);
}

Status Stream64AdapterBase::WriteChunk(const void* data, std::uint64_t size,
                                       std::uint64_t* written) {
  return WriteTarget(data, size, written);
}

Status Stream64AdapterBase::WriteTarget(const void* data, std::uint64_t size,
                                        std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  if (target_ == nullptr) return platform::kFailure;
  return target_->Write(data, size, written);
}

}  // namespace mail
