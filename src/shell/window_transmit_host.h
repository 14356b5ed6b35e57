// The window side of the transmit controller: performs the controller's pane, caption and
// message work on the window's widgets, and hands the send threads' calls to the GUI
// thread through a GuiCallQueue woken by a queued Qt call.
//
// Threads: the widget methods run on the GUI thread only; CallOnGui/PostToGui from any.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "transmit/gui_call_queue.h"
#include "transmit/transmit_host.h"
#include "transmit/transmit_state.h"

namespace kestrix::shell {

class MainWindow;

class WindowTransmitHost final : public QObject, public transmit::TransmitHost {
 public:
  WindowTransmitHost(MainWindow& window, transmit::TransmitState& tx);

  // The memories panel's handlers (message button Mn, the armed operation).
  void SetMemoryHandlers(std::function<void(int)> click, std::function<void(int)> apply);

  bool CallOnGui(const std::function<void()>& fn) override { return queue_.Call(fn); }
  void PostToGui(std::function<void()> fn) override { queue_.Post(std::move(fn)); }
  void CloseGuiCalls() override { queue_.Close(); }
  // GUI thread: runs the calls queued by the send threads (the window's waits call it).
  int ServeGuiCalls() { return queue_.ServePending(); }

  std::string PaneText() override;
  void SetPaneText(std::string_view text) override;
  void AppendPaneText(std::string_view text) override;
  void SetCaret(int position) override;
  void SetPaneReadOnly(bool readOnly) override;
  void FocusPane() override;
  void ShowXmitEnable(bool on) override;
  void ShowSendButton(bool active) override;
  void ShowTypingMode(int screenMode) override;
  void ShowLoop(bool on) override;
  void ResetMessageButtons() override;
  void ResetMemoryOpButtons() override;
  void ShowMessage(const std::string& title, const std::string& text) override;
  void EnableSpeedUpDn(bool enabled) override;
  void ShowDisplay(bool waterfall) override;
  void MemoryButtonClick(int n) override;
  void ApplyMemoryOperation(int op) override;

 private:
  MainWindow& w_;
  transmit::TransmitState& tx_;
  transmit::GuiCallQueue queue_;
  std::function<void(int)> memoryClick_;
  std::function<void(int)> memoryApply_;
};

}  // namespace kestrix::shell
