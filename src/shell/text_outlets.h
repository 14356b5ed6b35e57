// Where the window's decoded text goes, as subscribers of the text hub: the receive pane,
// and the hand-over to partner programs. GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "decoder/text_sink.h"
#include "shell/receive_panel.h"
#include "shell/window_transmit_state.h"

namespace kestrix::shell {

class PartnerLink;

// The receive pane: decoded text at the caret, and CLEAR.
class ReceivePaneText final : public TextSink {
 public:
  explicit ReceivePaneText(const ReceivePanel& rp) : rp_(rp) {}

  void InsertText(const char* bytes, size_t length) override;
  void ClearPanes() override;

 private:
  const ReceivePanel& rp_;
};

// Partner programs: each table character and prosign letter, one message per character.
// With messaging on and a partner connected, the pane text is taken first.
class PartnerText final : public TextSink {
 public:
  // `link`: the partner link when the window serves partners, else null.
  PartnerText(const TransmitState& tx, const ReceivePanel& rp, std::function<PartnerLink*()> link)
      : tx_(tx), rp_(rp), link_(std::move(link)) {}

  void InsertText(const char* /*bytes*/, size_t /*length*/) override {}
  void TableCharacter(char c) override;
  void ProsignLetter(char c) override { Post(c); }

 private:
  void Post(char c);

  const TransmitState& tx_;
  const ReceivePanel& rp_;
  std::function<PartnerLink*()> link_;
  std::string paneText_;  // pane text handed to a partner program
};

}  // namespace kestrix::shell
