#include "platform/status.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace platform {
namespace {

TEST(StatusTest, SystemErrorTextHasNoLineBreakAndUnknownCodesHaveNone) {
  for (Status code : {kFailure, kAccessDenied, kWaitTimeout, kWsaEconnrefused, kWsaHostNotFound}) {
    const std::string text = GetSystemErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n') << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
  }
  EXPECT_EQ(GetSystemErrorText(123456), "");
}

TEST(StatusTest, ErrnoNeverComesOutRaw) {
  EXPECT_EQ(ErrnoToStatus(0), kOk);
  EXPECT_EQ(ErrnoToStatus(EPERM), kAccessDenied);
  EXPECT_EQ(ErrnoToStatus(ECONNREFUSED), kWsaEconnrefused);
  EXPECT_EQ(ErrnoToStatus(ETIMEDOUT), kWsaEtimedout);
  EXPECT_EQ(ErrnoToStatus(EAGAIN), kWsaEwouldblock);
  EXPECT_EQ(ErrnoToStatus(99999), kFailure);
}

}  // namespace
}  // namespace platform
