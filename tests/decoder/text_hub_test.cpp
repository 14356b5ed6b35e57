// Decoded text goes out through the hub to every subscriber, in subscription order.
#include "decoder/text_hub.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrix {
namespace {

// Writes every event into one shared log, tagged with its own name.
class Tap final : public TextSink {
 public:
  Tap(std::string name, std::string& log) : name_(std::move(name)), log_(log) {}
  void InsertText(const char* bytes, size_t length) override {
    log_ += name_ + ":text(" + std::string(bytes, length) + ") ";
  }
  void TableCharacter(char c) override { log_ += name_ + ":char(" + c + ") "; }
  void ProsignLetter(char c) override { log_ += name_ + ":prosign(" + c + ") "; }
  void ClearPanes() override { log_ += name_ + ":clear "; }

 private:
  std::string name_;
  std::string& log_;
};

TEST(TextHub, EveryEventReachesEverySubscriberInSubscriptionOrder) {
  std::string log;
  Tap pane("pane", log), partner("partner", log);
  TextHub hub;
  hub.Subscribe(pane);
  hub.Subscribe(partner);
  hub.Subscribe(pane);  // a second subscription is ignored
  EXPECT_EQ(hub.Subscribers(), 2u);

  TextSink& out = hub;  // the receiver sees a plain sink
  out.InsertText("e", 1);
  out.TableCharacter('e');
  out.ProsignLetter('k');
  out.ClearPanes();
  EXPECT_EQ(log,
            "pane:text(e) partner:text(e) pane:char(e) partner:char(e) pane:prosign(k) "
            "partner:prosign(k) pane:clear partner:clear ");

  log.clear();
  hub.Unsubscribe(pane);
  out.InsertText("t", 1);
  EXPECT_EQ(log, "partner:text(t) ");
}

}  // namespace
}  // namespace kestrix
