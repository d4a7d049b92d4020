#include "service/reporting/smtp_client.h"

#include <gtest/gtest.h>

#include "service/reporting/mail_message.h"
#include "service/reporting/text_encoding.h"
#include "service/reporting/tests/reporting_fixture.h"

namespace svc {
namespace {

using testing::LocalMailServer;

MailServer Loopback(int port) { return MailServer{"127.0.0.1", port}; }

TEST(MailServerSettingTest, HostPortAndTheUnsetStar) {
  MailServer s;
  ASSERT_TRUE(ParseMailServer(" mail.example.org ", &s));
  EXPECT_EQ(s.host, "mail.example.org");
  EXPECT_EQ(s.port, 25);
  ASSERT_TRUE(ParseMailServer("127.0.0.1:2525", &s));
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_EQ(s.port, 2525);
  ASSERT_TRUE(ParseMailServer("[::1]:587", &s));
  EXPECT_EQ(s.host, "::1");
  EXPECT_EQ(s.port, 587);
  ASSERT_TRUE(ParseMailServer("::1", &s));
  EXPECT_EQ(s.port, 25);
  for (const char* bad : {"", "*", "host:", "host:0", "host:70000", "host:2x", ":25", "[::1", "[::1]x"}) {
    EXPECT_FALSE(ParseMailServer(bad, &s)) << bad;
  }

  std::vector<std::string> to;
  std::string bad;
  ASSERT_TRUE(ParseMailAddresses("ops@example.org; boss@example.org ,", &to, &bad));
  EXPECT_EQ(to, (std::vector<std::string>{"ops@example.org", "boss@example.org"}));
  // An address that could inject a command or a header field is refused.
  for (const char* text : {"*", "", "a@b\r\nRCPT TO:<x@y>", "<a@b>", "a b@c", "nobody"}) {
    EXPECT_FALSE(ParseMailAddresses(text, &to, &bad)) << text;
  }
}

TEST(SmtpDataTest, DotsAreStuffedAndLinesEndInCrlf) {
  EXPECT_EQ(SmtpDataBlock(".\n..x\nplain\r\nlast"), "..\r\n...x\r\nplain\r\nlast\r\n.\r\n");
  EXPECT_EQ(SmtpDataBlock("a.b\n\n.end\n"), "a.b\r\n\r\n..end\r\n.\r\n");
  EXPECT_EQ(SmtpDataBlock("bare\rcr"), "bare\r\ncr\r\n.\r\n");
}

TEST(MailMessageTest, HeaderFieldsAndEncoding) {
  EXPECT_EQ(MailDate(0, 0), "Thu, 1 Jan 1970 00:00:00 +0000");
  EXPECT_EQ(MailDate(1710237600, 60), "Tue, 12 Mar 2024 11:00:00 +0100");
  EXPECT_EQ(MailDate(1710237600, -330), "Tue, 12 Mar 2024 04:30:00 -0530");
  EXPECT_EQ(MailDate(951782400, 0), "Tue, 29 Feb 2000 00:00:00 +0000");

  EXPECT_TRUE(IsValidUtf8("plain \xC3\xBC \xE2\x82\xAC"));
  EXPECT_FALSE(IsValidUtf8("J\xF6rg"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_EQ(AsUtf8("J\xF6rg \x80\x81"), "J\xC3\xB6rg \xE2\x82\xAC\xC2\x81");
  EXPECT_EQ(AsUtf8("J\xC3\xB6rg"), "J\xC3\xB6rg");

  // Blanks before a line end, '=', bytes above 127 and a leading dot are escaped;
  // no encoded line is longer than 76 characters.
  EXPECT_EQ(QuotedPrintable("a=b \nJ\xF6rg\n.x"), "a=3Db=20\r\nJ=F6rg\r\n=2Ex\r\n");
  const std::string longLine = QuotedPrintable(std::string(200, 'x'));
  size_t start = 0;
  for (size_t end; (end = longLine.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 76u);
  }

  EXPECT_EQ(HeaderText("Status of SRV1", "utf-8"), "Status of SRV1");
  EXPECT_EQ(HeaderText("J\xF6rg", "windows-1252"), "=?windows-1252?Q?J=F6rg?=");

  MailMessage m;
  m.from = "portulon@example.org";
  m.to = {"a@example.org", "b@example.org"};
  m.subject = "Status";
  m.body = "caf\xE9";
  m.date = 0;
  m.idDomain = "SRV1";
  const std::string text = FormatMailMessage(m);
  EXPECT_NE(text.find("Date: Thu, 1 Jan 1970 00:00:00 +0000\r\n"), std::string::npos);
  EXPECT_NE(text.find("To: a@example.org, b@example.org\r\n"), std::string::npos);
  EXPECT_NE(text.find("@SRV1>\r\n"), std::string::npos);
  EXPECT_NE(text.find("charset=windows-1252\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\ncaf=E9\r\n"), std::string::npos);
  // Two messages never share a Message-ID.
  EXPECT_NE(FormatMailMessage(m), text);
}

// The message as the real server stored and decoded it.
TEST(SmtpClientTest, DeliversToARealServer) {
  LocalMailServer server("accept");
  ASSERT_GT(server.port(), 0);
  MailMessage m;
  m.from = "portulon@srv1.example";
  m.to = {"ops@example.org", "night@example.org"};
  m.subject = "Test \xC3\xBC";
  m.body = ".\n..two dots\n.single\nJ\xC3\xB6rg; \"quoted\", 'x'\n" + std::string(300, 'y') + "\nend";
  m.date = 1710237600;
  m.idDomain = "SRV1";
  const SmtpOutcome out =
      SendMail(Loopback(server.port()), "SRV1", m.from, m.to, FormatMailMessage(m));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.code, 250);
  ASSERT_EQ(server.Received(), 1);
  EXPECT_EQ(server.Part(1, "txt"), m.body + "\n");
  const auto envelope = server.Envelope(1);
  EXPECT_EQ(envelope.at("helo"), "SRV1");
  EXPECT_EQ(envelope.at("esmtp"), "1");
  EXPECT_EQ(envelope.at("from"), "portulon@srv1.example");
  EXPECT_EQ(envelope.at("to"), "ops@example.org,night@example.org");
  EXPECT_EQ(envelope.at("subject"), "Test \xC3\xBC");
  const std::string raw = server.Part(1, "eml");
  EXPECT_NE(raw.find("Message-ID: <1710237600."), std::string::npos);
  EXPECT_NE(raw.find("Date: Tue, 12 Mar 2024 10:00:00 +0000"), std::string::npos);

  // Lines of a bare message that begin with a dot arrive unchanged; a lone
  // dot unstuffed would end the transfer early.
  const SmtpOutcome dots = SendMail(Loopback(server.port()), "SRV1", m.from, {"ops@example.org"},
                                    "Subject: dots\n\n.\n..x\n.end\nlast");
  ASSERT_TRUE(dots.ok) << dots.error;
  ASSERT_EQ(server.Received(), 2);
  EXPECT_EQ(server.Part(2, "txt"), ".\n..x\n.end\nlast\n");
}

TEST(SmtpClientTest, EveryRefusalAndBreakIsAClearError) {
  const std::vector<std::string> to = {"ops@example.org"};
  const std::string message = "Subject: x\r\n\r\nbody\r\n";
  {
    LocalMailServer server("reject-rcpt");
    const SmtpOutcome out = SendMail(Loopback(server.port()), "SRV1", "a@b.c", to, message);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.code, 550);
    EXPECT_NE(out.error.find("RCPT TO:<ops@example.org> refused: 550"), std::string::npos) << out.error;
    EXPECT_NE(out.error.find("no such mailbox"), std::string::npos) << out.error;
  }
  {
    LocalMailServer server("tempfail");
    const SmtpOutcome out = SendMail(Loopback(server.port()), "SRV1", "a@b.c", to, message);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.code, 451);
    EXPECT_NE(out.error.find("message transfer refused: 451"), std::string::npos) << out.error;
  }
  {
    LocalMailServer server("drop");
    const SmtpOutcome out = SendMail(Loopback(server.port()), "SRV1", "a@b.c", to, message);
    EXPECT_FALSE(out.ok);
    EXPECT_NE(out.error.find("message transfer: the server"), std::string::npos) << out.error;
    EXPECT_EQ(server.Received(), 0);
  }
  {
    const SmtpOutcome out =
        SendMail(Loopback(testing::UnusedLoopbackPort()), "SRV1", "a@b.c", to, message);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.code, 0);
    EXPECT_NE(out.error.find("cannot connect to 127.0.0.1:"), std::string::npos) << out.error;
  }
  {
    // A server that takes the connection and never answers.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    const SmtpOutcome out = SendMail(Loopback(ntohs(a.sin_port)), "SRV1", "a@b.c", to, message,
                                     std::chrono::milliseconds(300));
    ::close(fd);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "greeting: no answer within 300 ms");
  }
  // A bad address is refused before anything is sent.
  const SmtpOutcome bad = SendMail(Loopback(1), "SRV1", "a@b.c\r\nDATA", to, message);
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("bad sender address"), std::string::npos);
}

}  // namespace
}  // namespace svc
