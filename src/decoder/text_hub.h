// The one way out for decoded text: the receiver writes into the hub, and every reader of
// the text (the receive pane, partner programs, a band map) subscribes to it. Each event
// goes to the subscribers in the order they subscribed.
//
// Threads: the thread the receiver runs on (the window's GUI thread); subscribing while an
// event is being handed out is not allowed.
#pragma once

#include <cstddef>
#include <vector>

#include "decoder/text_sink.h"

namespace kestrix {

class TextHub final : public TextSink {
 public:
  // `sink` must outlive its subscription; a second subscription of the same sink is
  // ignored.
  void Subscribe(TextSink& sink);
  void Unsubscribe(TextSink& sink);
  size_t Subscribers() const { return sinks_.size(); }

  void InsertText(const char* bytes, size_t length) override;
  void TableCharacter(char c) override;
  void ProsignLetter(char c) override;
  void ClearPanes() override;

 private:
  std::vector<TextSink*> sinks_;
};

}  // namespace kestrix
