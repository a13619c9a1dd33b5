// Message reporting: actions, lastStatus, the callback, inserts, msgFrom.
#include <string>
#include <vector>

#include "diag/report.h"
#include "outside/svclib.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

struct Seen {
  std::uint32_t status;
  std::uint32_t number;
  int messageClass;
  std::string text;
};

std::vector<Seen> gSeen;
std::int32_t gAnswer = 0;

std::int32_t recordStatus(ZoCoStatus* status) {
  EXPECT_EQ(status->reserved, 0u);
  gSeen.push_back({status->statusValue, zelwireMessageNumber(status->message),
                   zelwireMessageClass(status->message), zelwireMessageText(status->message)});
  return gAnswer;
}

class ReportTest : public HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    gSeen.clear();
    gAnswer = 0;
    desc_.callReportStatus = 1;
    desc_.ReportStatus = &recordStatus;
    desc_.owner = &desc_;
    servicePath_ = home() + "/service.trc";
    ASSERT_TRUE(svc::openServiceTrace(servicePath_));
  }
  void TearDown() override {
    svc::closeServiceTrace();
    HomeTest::TearDown();
  }
  std::string serviceTrace() { return readFile(servicePath_); }
  std::string serviceLog() { return readFile(home() + "/service.log"); }

  ZoCoConnDesc desc_{};
  std::string servicePath_;
};

TEST_F(ReportTest, ActionOneTracesRecordsAndCalls) {
  svc::Message msg = buildMsg(1004, 0, ZOCO_MSG_ERROR, "HOSTX");
  EXPECT_EQ(reportMsg(&desc_, 1, 40, msg), 0);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].status, 40u);
  EXPECT_EQ(gSeen[0].number, 1004u);
  EXPECT_EQ(gSeen[0].messageClass, ZOCO_MSG_ERROR);
  EXPECT_EQ(gSeen[0].text, "No TCP/IP address was found for host system HOSTX.");
  EXPECT_EQ(desc_.lastStatus, 40u);
  EXPECT_NE(serviceTrace().find(" - No TCP/IP address was found for host system HOSTX.\n"),
            std::string::npos);
  EXPECT_NE(serviceLog().find("Varnilo/Communication error 1004: No TCP/IP address"),
            std::string::npos);
}

TEST_F(ReportTest, StatusValueZeroRepeatsTheLastOne) {
  reportStatusValue(&desc_, 40);
  EXPECT_EQ(reportMsg(&desc_, 1, 0, buildMsg(1064, 0, ZOCO_MSG_INFO)), 0);
  ASSERT_EQ(gSeen.size(), 2u);
  EXPECT_EQ(gSeen[1].status, 40u);
  EXPECT_EQ(desc_.lastStatus, 40u);
}

TEST_F(ReportTest, ActionZeroResetsAndDoesNothingElse) {
  desc_.lastStatus = 77;
  EXPECT_EQ(reportMsg(&desc_, 0, 5, buildMsg(1004, 0, ZOCO_MSG_ERROR, "X")), 0);
  EXPECT_EQ(desc_.lastStatus, 0u);
  EXPECT_TRUE(gSeen.empty());
  EXPECT_EQ(serviceTrace().find("No TCP/IP"), std::string::npos);
  EXPECT_EQ(serviceLog(), "");
}

TEST_F(ReportTest, ActionTwoTracesAndRecordsWithoutCalling) {
  desc_.lastStatus = 3;
  EXPECT_EQ(reportMsg(&desc_, 2, 9, buildMsg(1064, 0, ZOCO_MSG_INFO)), 0);
  EXPECT_TRUE(gSeen.empty());
  EXPECT_EQ(desc_.lastStatus, 3u);
  EXPECT_NE(serviceLog().find("information 1064"), std::string::npos);
}

TEST_F(ReportTest, SocketErrorWithoutCallReportStatus) {
  desc_.callReportStatus = 0;
  reportSocketError("send", -1, 0, &desc_);
  EXPECT_TRUE(gSeen.empty());
  std::string trace = serviceTrace();
  EXPECT_NE(trace.find("ZOCO - reportCommErr\n"), std::string::npos);
  EXPECT_NE(trace.find("The socket call send failed with error -1."), std::string::npos);
  EXPECT_NE(serviceLog().find("error 1003: The socket call send failed with error -1."),
            std::string::npos);
}

TEST_F(ReportTest, SocketErrorAnswerIsDropped) {
  gAnswer = 1;  // a cancel in answer to an error report has no effect
  reportSocketError("recv", 10054, 7, &desc_);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].number, 1003u);
  EXPECT_EQ(gSeen[0].text, "The socket call recv failed with error 10054.");
  EXPECT_EQ(gSeen[0].status, 7u);
}

TEST_F(ReportTest, CancelRequestedOnlyForOne) {
  for (std::int32_t answer : {0, 1, 2, -1}) {
    gAnswer = answer;
    EXPECT_EQ(cancelRequested(&desc_), answer == 1) << answer;
  }
  desc_.lastStatus = 12;
  gSeen.clear();
  pollStatus(&desc_);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].status, 12u);
  EXPECT_EQ(gSeen[0].text, "");
  EXPECT_EQ(gSeen[0].messageClass, ZOCO_MSG_INFO);
}

TEST_F(ReportTest, NullCallbackCannotCancel) {
  desc_.ReportStatus = nullptr;
  EXPECT_EQ(reportStatusValue(&desc_, 5), 0);
  EXPECT_FALSE(cancelRequested(&desc_));
  EXPECT_NE(serviceTrace().find(" - ReportStatus being called; it is NULL; cannot cancel.\n"),
            std::string::npos);
}

TEST_F(ReportTest, MessageNumberZeroIsABareStatusReport) {
  EXPECT_EQ(reportMsgId(&desc_, 1, 14, 0, 0, ZOCO_MSG_INFO), 0);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].text, "");
  EXPECT_EQ(gSeen[0].status, 14u);
  EXPECT_EQ(serviceLog(), "");
  EXPECT_EQ(serviceTrace().find(" - \n"), std::string::npos);
}

TEST_F(ReportTest, InvalidMsgFromFallsBackToFileZero) {
  svc::Message msg = buildMsg(1064, 3, ZOCO_MSG_INFO);
  EXPECT_EQ(msg.text(), "Connected to the server mapper.");
  EXPECT_NE(serviceTrace().find("ZOCO - BUG?: buildMsg called with invalid msgFrom parm of 3\n"),
            std::string::npos);
  EXPECT_EQ(buildMsg(8, 1, ZOCO_MSG_ERROR).text().rfind("No local port could be bound", 0), 0u);
}

TEST_F(ReportTest, InsertsReplaceOnlyGivenPlaceholders) {
  svc::Message m = buildTextMsg("a=%1 b=%2 c=%3 a=%1", ZOCO_MSG_WARNING, "one", nullptr, "three");
  EXPECT_EQ(m.text(), "a=one b=%2 c=three a=one");
  EXPECT_EQ(m.messageClass(), static_cast<std::uint32_t>(ZOCO_MSG_WARNING));
  // An insert that itself looks like a placeholder is not replaced again.
  svc::Message n = buildTextMsg("%1 and %2", ZOCO_MSG_INFO, "%2", "two");
  EXPECT_EQ(n.text(), "%2 and two");
  svc::Message big = buildMsg(1008, 0, ZOCO_MSG_ERROR, std::string(5000, 's').c_str(), "449",
                              "SYS");
  EXPECT_EQ(big.text().size(), 5000 + std::string("Could not connect to host server  at port 449 of host system SYS.").size());
}

TEST_F(ReportTest, CheckResultMessages) {
  struct Case {
    std::int32_t result;
    std::uint32_t number;
    int messageClass;
    std::uint32_t status;
  } cases[] = {{0, 1062, ZOCO_MSG_INFO, 100},
               {1, 1015, ZOCO_MSG_WARNING, 100},
               {22, 1017, ZOCO_MSG_INFO, 55},
               {23, 1016, ZOCO_MSG_ERROR, 55},
               {12, 1016, ZOCO_MSG_ERROR, 55}};
  for (const Case& c : cases) {
    gSeen.clear();
    desc_.lastStatus = 55;
    reportCheckResult(&desc_, c.result);
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].number, c.number);
    EXPECT_EQ(gSeen[0].messageClass, c.messageClass);
    EXPECT_EQ(gSeen[0].status, c.status);
  }
}

TEST_F(ReportTest, EveryReportedNumberHasAText) {
  const std::uint32_t numbers[] = {1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
                                   1014, 1015, 1016, 1017, 1019, 1021, 1060, 1061,
                                   1062, 1063, 1064, 1098, 1099};
  for (std::uint32_t n : numbers) EXPECT_NE(messageFile(0).text(n)[0], '\0') << n;
  EXPECT_NE(messageFile(1).text(8)[0], '\0');
  EXPECT_TRUE(messageFile(2).isOpen());
}

}  // namespace
}  // namespace zw::test
