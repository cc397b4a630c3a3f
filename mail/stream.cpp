#include "mail/stream.h"

namespace mail {

Status Stream64AdapterBase::Write(const void* data, std::uint64_t size, std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  if (size == 0) return platform::kOk;
  if (data == nullptr) return platform::kFailure;
  return WriteChunk(static_cast<const std::uint8_t*>(data), size, written);
}

Status Stream64AdapterBase::SetTarget(ISerialStream64Out* target) {
  target_ = target;
  return platform::kOk;
}

void Stream64AdapterBase::ClearTarget() { target_ = nullptr; }

Status Stream64AdapterBase::WriteChunk(const std::uint8_t* data, std::uint64_t size,
                                       std::uint64_t* written) {
  return WriteToTarget(data, size, written);
}

Status Stream64AdapterBase::WriteToTarget(const void* data, std::uint64_t size,
                                          std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  if (target_ == nullptr) return platform::kFailure;
  return target_->Write(data, size, written);
}

}  // namespace mail
