// What a partner receives for each kind of finished character: the decoder's character
// finisher wired to the partner server the way the window and kestrix-decode wire it
// (table characters and prosign letters posted, pane-only texts not).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder/characters.h"
#include "decoder/timing.h"
#include "transmit/partner_client.h"
#include "transmit/partner_server.h"

namespace kestrix::transmit {
namespace {

namespace fs = std::filesystem;

class Quiet : public PartnerHost {
 public:
  void ShowMessage(const std::string&, const std::string&) override {}
};

class Posting : public TextSink {
 public:
  explicit Posting(PartnerServer& s) : server_(s) {}
  void InsertText(const char* bytes, size_t length) override { pane.append(bytes, length); }
  void TableCharacter(char c) override { server_.PostDecodedChar(std::string_view(&c, 1)); }
  void ProsignLetter(char c) override { server_.PostDecodedChar(std::string_view(&c, 1)); }
  std::string pane;

 private:
  PartnerServer& server_;
};

TEST(PartnerPosting, EachKindOfCharacterPostsWhatThePartnerShouldSee) {
  struct Case {
    const char* what;
    std::vector<std::string> patterns;  // "" is a word gap
    bool prosigns, nonEnglish, messaging;
    std::string pane;
    std::vector<int64_t> posted;
  };
  const Case cases[] = {
      {"letters and a word space", {".-", "-.-", ""}, true, false, true, "ak ", {'a', 'k', ' '}},
      {"AR as its two letters", {".-.-."}, true, false, true, "AR ", {65, 82, ' '}},
      {"= as B and T", {"-...-"}, true, false, true, "= ", {'B', 'T', ' '}},
      {"seven dashes as @", {"-------"}, true, false, true, "@ ", {64, ' '}},
      {"BK and its ;", {"-.-.-."}, true, false, true, "BK;", {'B', 'K', ';'}},
      {"prosigns off", {".-.-."}, false, false, true, " ", {' '}},
      {"non-English letters stay in the pane",
       {"..--", "-.--."},
       true,
       true,
       true,
       "\xFC h^ ",
       {' ', ' '}},
      {"KN while non-English is off", {"-.--."}, true, false, true, "KN ", {'K', 'N', ' '}},
      {"Msgs OFF", {".-.-.", "."}, true, false, false, "AR e", {}},
  };
  const fs::path dir =
      fs::temp_directory_path() / ("kestrix_posting_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Quiet host;
    uint8_t on = c.messaging ? 1 : 0;
    std::atomic<uint8_t> connected{0};
    PartnerServer server(host, on, connected);
    std::string error;
    ASSERT_EQ(server.Open((dir / "p").string(), error), PartnerOpenResult::kServing) << error;
    PartnerClient client;
    ASSERT_EQ(client.Connect((dir / "p").string(), error), PartnerConnectResult::kConnected);
    ASSERT_TRUE(client.Announce(1, error));
    for (int i = 0; i < 4; ++i) server.Service();
    ASSERT_EQ(connected.load(), 1);

    TimingState t;
    ReceiveOptions o;
    o.Prosigns = c.prosigns ? 1 : 0;
    o.NonEnglish = c.nonEnglish ? 1 : 0;
    ElementTiming e{t, o};
    Posting sink(server);
    CharacterFinisher f{t, e, o, sink};
    for (const std::string& pattern : c.patterns) {
      for (char ch : pattern) {
        (ch == '.' ? t.DotFlag : t.DashFlag) = 1;
        f.Step();
      }
      t.CharEndFlag = 1;
      f.Step();
    }
    EXPECT_EQ(sink.pane, c.pane);

    std::vector<PartnerRecord> records;
    while (client.Receive(records, 0, error) == PartnerClient::ReceiveResult::kData) {
    }
    std::vector<int64_t> posted;
    for (const PartnerRecord& r : records) {
      if (r.Message == kPartnerCharacter) posted.push_back(r.Second);
    }
    EXPECT_EQ(posted, c.posted);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrix::transmit
