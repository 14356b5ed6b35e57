// The window's side of partner messaging: runs the partner server on the GUI thread,
// woken by a socket notifier on the server's descriptor (also while the receive loop
// processes events), and shows the server's messages in the window's message box.
//
// Messages are shown after the server's work is done, from the event queue: a modal box
// runs a nested event loop, and the server must not be re-entered from inside itself.
//
// Threads: GUI thread only.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "transmit/partner_server.h"

class QSocketNotifier;

namespace kestrix::shell {

class PartnerLink : public QObject, private transmit::PartnerHost {
 public:
  using MessageFn = std::function<void(const std::string& title, const std::string& text)>;

  PartnerLink(MessageFn showMessage, const uint8_t& messagingOn,
              std::atomic<uint8_t>& partnerConnected, QObject* parent = nullptr);
  ~PartnerLink() override;

  // Starts serving at `path` (empty: the default socket). When that fails (another
  // Kestrix serves already, or the socket cannot be made) the reason is shown once, titled
  // "Kestrix Message", and the window carries on without partners.
  bool Start(const std::string& path);

  // The hand-over from the received-text output: one message per character.
  void PostDecodedChar(std::string_view text) { server_.PostDecodedChar(text); }

  transmit::PartnerServer& Server() { return server_; }

 private:
  void ShowMessage(const std::string& title, const std::string& text) override;
  void Activated();

  MessageFn showMessage_;
  transmit::PartnerServer server_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestrix::shell
