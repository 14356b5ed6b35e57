// The window as a partner server: the socket notifier wakes it for partners, the
// received-text hooks post through it under Msgs ON/OFF, and its messages (a refused
// announcement, a second window on the same socket) reach the window's message box.
#include <QCoreApplication>
#include <QEventLoop>

#include "transmit/partner_client.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

using transmit::PartnerClient;
using transmit::PartnerRecord;

class PartnerLinkTest : public WindowTest {
 protected:
  WindowOptions Serving() {
    WindowOptions o;
    o.servePartners = true;
    o.partnerSocket = (Home() + "/partner").toStdString();
    return o;
  }

  // Lets the window's event processing run until `done` or a generous number of rounds.
  template <typename F>
  bool Until(F done) {
    for (int i = 0; i < 200 && !done(); ++i) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return done();
  }

  void Connect(PartnerClient& c, int64_t handle) {
    std::string error;
    ASSERT_EQ(c.Connect(Serving().partnerSocket, error), transmit::PartnerConnectResult::kConnected)
        << error;
    ASSERT_TRUE(c.Announce(handle, error)) << error;
  }

  std::string Chars(PartnerClient& c) {
    std::vector<PartnerRecord> records;
    std::string error;
    while (c.Receive(records, 0, error) == PartnerClient::ReceiveResult::kData) {
    }
    std::string s;
    for (const PartnerRecord& r : records) {
      if (r.Message == transmit::kPartnerCharacter) s += static_cast<char>(r.Second & 0xFF);
    }
    return s;
  }

  TextSink& Sink() { return W().Text(); }
};

TEST_F(PartnerLinkTest, PostsTableCharactersAndProsignLettersWhileMsgsOn) {
  Make(std::make_unique<FakeCapture>(), Serving()).show();
  PartnerClient c;
  Connect(c, 321);
  ASSERT_TRUE(Until([&] { return W().Tx().PartnerConnected.load() == 1; }));

  Sink().TableCharacter('x');  // Msgs OFF, the start-up choice
  W().Receive().MsgsONClick();
  Sink().TableCharacter('k');
  Sink().TableCharacter(' ');
  Sink().ProsignLetter('A');
  Sink().ProsignLetter('R');
  W().Receive().MsgsOFFClick();
  Sink().ProsignLetter('S');
  EXPECT_EQ(Chars(c), "k AR");
  EXPECT_TRUE(messages_.empty());

  std::string error;
  ASSERT_TRUE(c.Goodbye(error)) << error;
  ASSERT_TRUE(Until([&] { return W().Tx().PartnerConnected.load() == 0; }));
  W().Receive().MsgsONClick();
  Sink().TableCharacter('e');
  EXPECT_EQ(Chars(c), "");
}

TEST_F(PartnerLinkTest, MessagesReachTheWindowsMessageBox) {
  Make(std::make_unique<FakeCapture>(), Serving()).show();
  PartnerClient c;
  Connect(c, 0);
  ASSERT_TRUE(Until([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_[0].title, "Kestrix Message");
  EXPECT_EQ(messages_[0].text, "Bad Message Handle!");
  EXPECT_EQ(W().Tx().PartnerConnected.load(), 0);

  // A second window on the same socket says so and leaves the first one serving.
  std::vector<std::string> seen;
  WindowSeams seams;
  seams.message = [&](const std::string& title, const std::string& text) {
    seen.push_back(title + ": " + text);
  };
  MainWindow second(std::make_unique<FakeCapture>(), Serving(), seams);
  ASSERT_TRUE(Until([&] { return !seen.empty(); }));
  EXPECT_NE(seen[0].find("Kestrix Message: Another Kestrix is already serving"), std::string::npos)
      << seen[0];
  PartnerClient d;
  Connect(d, 9);
  EXPECT_TRUE(Until([&] { return W().Tx().PartnerConnected.load() == 1; }));
}

TEST_F(PartnerLinkTest, WindowsThatDoNotAskServeNoPartners) {
  Make().show();
  PartnerClient c;
  std::string error;
  EXPECT_EQ(c.Connect(Serving().partnerSocket, error), transmit::PartnerConnectResult::kNoServer);
}

}  // namespace
}  // namespace kestrix::shell::testing
