#include "shell/partner_link.h"

#include <QMetaObject>
#include <QSocketNotifier>

namespace kestrix::shell {

PartnerLink::PartnerLink(MessageFn showMessage, const uint8_t& messagingOn,
                         std::atomic<uint8_t>& partnerConnected, QObject* parent)
    : QObject(parent),
      showMessage_(std::move(showMessage)),
      server_(*this, messagingOn, partnerConnected) {}

PartnerLink::~PartnerLink() {
  delete notifier_;
  server_.Close();
}

bool PartnerLink::Start(const std::string& path) {
  std::string error;
  if (server_.Open(path, error) != transmit::PartnerOpenResult::kServing) {
    ShowMessage(transmit::kBadHandleTitle,
                error + ". This window does not serve partner programs.");
    return false;
  }
  notifier_ = new QSocketNotifier(server_.Fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &PartnerLink::Activated);
  return true;
}

void PartnerLink::Activated() {
  server_.Service();
}

void PartnerLink::ShowMessage(const std::string& title, const std::string& text) {
  QMetaObject::invokeMethod(
      this, [this, title, text] { showMessage_(title, text); }, Qt::QueuedConnection);
}

}  // namespace kestrix::shell
