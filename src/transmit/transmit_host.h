// What the transmit controller needs from the window: the transmit pane, the captions and
// colours of the transmit buttons, message boxes, the speed spinner, the display switch
// and the memory buttons; and the hand-off that runs window work on the GUI thread for the
// send threads. No Qt: the window implements it (src/shell), the tests fake it.
//
// Threads: every method but the three hand-off calls runs on the GUI thread only. A send
// thread reaches them through CallOnGui / PostToGui, which keep the order in which the
// worker asked for them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrix::transmit {

inline constexpr int kCaretEnd = -1;

class TransmitHost {
 public:
  virtual ~TransmitHost() = default;

  // --- Hand-off (any thread) ----------------------------------------------------------
  // Runs `fn` on the GUI thread and returns once it has run (at once when called on the
  // GUI thread). Returns false without running it once the calls are closed.
  virtual bool CallOnGui(const std::function<void()>& fn) = 0;
  // Queues `fn` for the GUI thread without waiting; runs in order with CallOnGui's.
  virtual void PostToGui(std::function<void()> fn) = 0;
  // Shutting down: pending calls are dropped, their workers released, later ones refused.
  virtual void CloseGuiCalls() = 0;

  // --- The transmit pane (Windows-1252 text) --------------------------------------------
  virtual std::string PaneText() = 0;
  virtual void SetPaneText(std::string_view text) = 0;
  // Inserts at the end of the text; the caret stays where it is.
  virtual void AppendPaneText(std::string_view text) = 0;
  // Character position, or kCaretEnd.
  virtual void SetCaret(int position) = 0;
  virtual void SetPaneReadOnly(bool readOnly) = 0;
  virtual void FocusPane() = 0;

  // --- Captions and colours ------------------------------------------------------------
  virtual void ShowXmitEnable(bool on) = 0;         // "ON" red / "OFF" blue
  virtual void ShowSendButton(bool active) = 0;     // SEND red / blue
  virtual void ShowTypingMode(int screenMode) = 0;  // "&IMM" / "SC&N": chosen one red
  virtual void ShowLoop(bool on) = 0;               // LOOP red / blue
  // Memory and contest buttons back to black.
  virtual void ResetMessageButtons() = 0;
  // STORE, RECALL and CLR MSG back to blue.
  virtual void ResetMemoryOpButtons() = 0;
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
  virtual void EnableSpeedUpDn(bool enabled) = 0;
  // Up arrow: line spectrum (false); Down arrow: waterfall (true).
  virtual void ShowDisplay(bool waterfall) = 0;

  // --- The memories -----------------------------------------------------------------------
  // The click handler of message button Mn (n = 1..10).
  virtual void MemoryButtonClick(int n) = 0;
  // Performs memory operation `op` (0 store, 1 recall, 2 clear) on the selected buffer.
  virtual void ApplyMemoryOperation(int op) = 0;
};

}  // namespace kestrix::transmit
