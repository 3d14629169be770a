// What a Status and a Result say of a failure.
#include "support/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(Status, SystemCallsAndMessagesSayWhatFailed) {
  const support::Status ok;
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(ok.text(), "");
  EXPECT_EQ(ok.reason(), "");

  const support::Status call = support::Status::posix("open", ENOENT);
  EXPECT_FALSE(call.ok());
  EXPECT_EQ(call.code(), ENOENT);
  EXPECT_EQ(call.text(), std::string("open: ") + call.reason());
  EXPECT_FALSE(call.reason().empty());

  // A message is the whole reason: no call, no code, never a success.
  const support::Status message = support::Status::failure("the text is not valid UTF-8 at 2:3");
  EXPECT_FALSE(message.ok());
  EXPECT_EQ(message.text(), "the text is not valid UTF-8 at 2:3");
  EXPECT_EQ(message.reason(), "the text is not valid UTF-8 at 2:3");
  EXPECT_STREQ(message.call(), "");
  EXPECT_EQ(message.code(), 0);
  EXPECT_FALSE(support::Status::failure("").ok());
  EXPECT_FALSE(support::Status::failure("").text().empty());
  // A refusal's code tells its kind apart; its text stays the message.
  const support::Status refusal = support::Status::failure("there is nothing to undo", ERANGE);
  EXPECT_FALSE(refusal.ok());
  EXPECT_EQ(refusal.code(), ERANGE);
  EXPECT_EQ(refusal.text(), "there is nothing to undo");
}

TEST(Status, AResultCarriesItsValueOrItsFailure) {
  support::Result<std::string> value(std::string("bytes"));
  EXPECT_TRUE(value.ok());
  EXPECT_EQ(std::move(value).value(), "bytes");
  const support::Result<std::string> failed(support::Status::failure("cannot encode"));
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().text(), "cannot encode");
  EXPECT_EQ(failed.value(), "");
}

}  // namespace
