// The service's pipe client against a real pipe in a temporary machine: what
// it sends, how long it waits, and what a caller that decides a dial-in makes
// of a service that does not answer.
#include "common/call_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"

namespace common {
namespace {

using namespace std::chrono_literals;
using plat::testing::ScriptedPipeServer;

class CallServiceTest : public ::testing::Test {
 protected:
  void Serve(ScriptedPipeServer::Reply reply) {
    service_ = std::make_unique<ScriptedPipeServer>("plsvcpipe", std::move(reply));
  }

  // A voice that keeps what it traces and reports.
  CallerVoice Voice(CallTrace lines, bool errorInReport) {
    return {[this](std::string_view label, std::string_view text, long number) {
              traced_.push_back(std::string(label) + ": " + std::string(text) + " : " +
                                std::to_string(number));
            },
            [this](const std::string& what, const std::string& detail) {
              reported_.push_back(what + " / " + detail);
            },
            lines, errorInReport, 300};
  }

  plat::testing::TempNetwork net_;
  std::unique_ptr<ScriptedPipeServer> service_;
  std::vector<std::string> traced_, reported_;
};

TEST_F(CallServiceTest, AMessageThatCannotBeSentWholeNeverReachesThePipe) {
  Serve([](const std::string&) { return "00"; });
  const std::string longest(kMessageBufferSize, 'x');
  EXPECT_TRUE(CallService("", longest).answered());
  for (const std::optional<std::string>& unbuildable :
       {std::optional<std::string>(), std::optional<std::string>(longest + "x"),
        AddressRequestMessage("COM1", std::string(kMessageBufferSize, 'u'), 0)}) {
    const ServiceReply r = CallService("", unbuildable);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, plat::ERROR_INVALID_DATA);
  }
  // A dial-in that waits on one is admitted, and the failure reported once.
  const ServiceReply r = AskService(Voice(CallTrace::kOutThenIn, true), Question::AcceptConnection,
                                    "PL_RRAS::Transact", std::nullopt);
  EXPECT_TRUE(Admits(r));
  EXPECT_EQ(traced_, std::vector<std::string>{
                         "PL_RRAS::Transact out: message cannot be built, not sent : 0"});
  EXPECT_EQ(reported_, std::vector<std::string>{"Transaction failed on AcceptConnection / "
                                                "Bad response from Portulon Service: 13"});
  EXPECT_EQ(service_->messages(), std::vector<std::string>{longest});
}

TEST_F(CallServiceTest, WithoutTheServiceCallersAreAdmittedTheAddressKeptAndOnlyQuestionsReported) {
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(CallService("", "UPDATE_UPDATE").error, plat::ERROR_FILE_NOT_FOUND);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "no pipe: no wait";
  EXPECT_EQ(CallService("NOSUCH", "UPDATE_UPDATE").error, plat::ERROR_BAD_NETPATH);

  const CallerVoice ras = Voice(CallTrace::kOneLine, false);
  EXPECT_TRUE(Admits(AskService(ras, Question::AcceptConnection, "PL_RAS::Transact", "0,COM1,D\\a,*,0,0,0")));
  EXPECT_FALSE(GivenAddress(AskService(ras, Question::GetIP, "PL_RAS::Transact", "2,COM1,a,*,*,1,0")));
  AskService(ras, Question::HangUp, "PL_RAS::Transact", "1,COM1,D\\a,*,0,0,5");
  EXPECT_EQ(reported_, (std::vector<std::string>{
                           "Transaction failed on AcceptConnection / Bad response from Portulon Service",
                           "Transaction failed on GetIP / Bad response from Portulon Service"}))
      << "a hang-up nobody hears is traced, not reported";
  ASSERT_EQ(traced_.size(), 3u);
  EXPECT_EQ(traced_[2], "PL_RAS::Transact: out->(1,COM1,D\\a,*,0,0,5), in<-failed (error:2) : 2");

  // A reply cut at the buffer is no answer either.
  Serve([](const std::string&) { return std::string(kMessageBufferSize + 1, '3'); });
  reported_.clear();
  const ServiceReply cut = AskService(Voice(CallTrace::kFailures, true), Question::GetIP, "", "2,COM1,a,*,*,1,0");
  EXPECT_EQ(cut.error, plat::ERROR_MORE_DATA);
  EXPECT_FALSE(GivenAddress(cut));
  EXPECT_EQ(reported_, std::vector<std::string>{
                           "Transaction failed on GetIP / Bad response from Portulon Service: 234"});
}

TEST_F(CallServiceTest, ABusyServiceIsWaitedForOnlyAsLongAsTheCallerWaits) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  Serve([released](const std::string& m) {
    if (m == "first") released.wait();
    return std::string("10");
  });
  auto first = std::async(std::launch::async, [] { return CallService("", "first"); });
  ASSERT_TRUE(service_->WaitForMessages(1, 5s));

  const auto before = std::chrono::steady_clock::now();
  const ServiceReply r =
      AskService(Voice(CallTrace::kFailures, true), Question::AcceptConnection, "PLOVPN::Connect", "second");
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(r.error, plat::ERROR_SEM_TIMEOUT);
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 3s);
  EXPECT_TRUE(Admits(r)) << "a timed-out question admits";
  EXPECT_EQ(traced_, std::vector<std::string>{
                         "PLOVPN::Connect: Communicate to Portulon Service Failed!! : 121"});
  EXPECT_EQ(reported_.size(), 1u);

  release.set_value();
  EXPECT_EQ(first.get().text, "10");
  // Once free, the pipe answers and a refusal is one.
  const ServiceReply second = CallService("", "second");
  EXPECT_TRUE(second.answered());
  EXPECT_FALSE(Admits(second));
  EXPECT_EQ(service_->messages(), (std::vector<std::string>{"first", "second"}))
      << "the timed-out message never reached the service";
}

}  // namespace
}  // namespace common
