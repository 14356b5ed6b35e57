// The message memories M1..M10, the STORE / RECALL / CLR MSG arming, the contest strip and
// the scratch pad: which send buffer a button fills or selects, what it composes and when it
// starts a buffer send through SEND. No Qt: the window reaches the pane, the captions, the
// scratch pad and the memory window through MemoriesHost.
//
// Threads: GUI thread only. The function keys F1..F10 of the send threads arrive here through
// the GUI thread as well (MemoryKeyClick).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "transmit/send_control.h"
#include "transmit/transmit_state.h"

namespace kestrix::transmit {

// The memory operation a memory button performs (MemoryOp).
inline constexpr int32_t kMemoryStore = 0;
inline constexpr int32_t kMemoryRecall = 1;
inline constexpr int32_t kMemoryClear = 2;
inline constexpr int32_t kMemoryNone = 3;

inline constexpr int kMemoryCount = 10;       // M1..M10 are buffers 1..10
inline constexpr int kScratchPadBuffer = 10;  // M10 follows the scratch pad's first line
inline constexpr int kRemoteCallBuffer = 16;
inline constexpr int kMyCallBuffer = 17;
inline constexpr int kContestBuffer = 18;
inline constexpr int kReportBuffer = 19;
inline constexpr int kClosingBuffer = 20;
// A line break is looked for only among a box's first 65 characters.
inline constexpr size_t kFirstLineScan = 65;

enum class ContestButton {
  kRemoteCall,  // RemoteCallBtn "<": other call + " "
  kMyCall,      // MyCallBtn "<": own call + " "
  kSendBoth,    // SendBothBtn "Send": other call + " de " + own call + " "
  kSerial,      // SndContactBtn "<": serial number + " "
  kReport,      // F599Btn "5nn": buffer 19 as stored
  kClosing,     // TuBtn "tu": buffer 20 as stored
};

// The window's side. Texts are single-byte Windows-1252 strings.
class MemoriesHost {
 public:
  virtual ~MemoriesHost() = default;

  // Transmit pane.
  virtual std::string PaneText() = 0;
  virtual void SetPaneText(std::string_view text) = 0;
  virtual void AppendPaneText(std::string_view text) = 0;
  virtual void PaneCaretToStart() = 0;
  virtual void PaneCaretToEnd() = 0;
  // Makes the pane visible and writable.
  virtual void ShowPaneWritable() = 0;
  virtual void FocusPane() = 0;

  // Captions: STORE / RECALL / CLR MSG red for the armed `op`, blue otherwise (all blue
  // for kMemoryNone).
  virtual void ShowArmedButton(int32_t op) = 0;
  // Every memory and contest button black.
  virtual void ResetSendButtonColours() = 0;
  virtual void ShowMemoryButtonChosen(int n) = 0;  // Mn red
  virtual void ShowContestButtonChosen(ContestButton button) = 0;

  // Sets the scratch pad's text; the pad then reports the change (ScatchPadMemoChange with
  // what it holds), as it does when typed into.
  virtual void SetScratchPadText(std::string_view text) = 0;
  // The serial number's read-out XmitCntrMemo.
  virtual void ShowContestSerial(int serial) = 0;

  // The memory window.
  virtual bool MemoryWindowVisible() = 0;
  virtual void ShowMemoryWindow() = 0;
  virtual void SetMemoryWindowText(std::string_view text) = 0;
};

// `text` up to its first line break among the first 65 characters, at most 4095 characters.
std::string_view FirstLine(std::string_view text);

class Memories {
 public:
  Memories(TransmitState& tx, MemoriesHost& host, SendControl& send)
      : tx_(tx), host_(host), send_(&send) {}

  // The controller that SEND and LOOP go through (the window replaces its stand-in).
  void SetSendControl(SendControl& send) { send_ = &send; }

  void StoreButtonClick();
  void RecallButtonClick();
  void ClearMsgButtonClick();

  // Msg1ButtonClick..Msg10ButtonClick: with an operation armed, performs it on memory n;
  // otherwise sends memory n when sending is possible.
  void MemoryButtonClick(int n);
  // F1..F10: memory n's button pressed with no memory operation armed, which sends it.
  void MemoryKeyClick(int n);

  // For SEND's stop path, LOOP and the typing-mode buttons: no operation armed any more
  // (MemoryOp 3, MemoryOpArmed 0), STORE / RECALL / CLR MSG blue.
  void DisarmMemoryOperation();
  // Every memory and contest button's caption back to black.
  void ResetMessageButtonColours() { host_.ResetSendButtonColours(); }

  // Performs `op` (0 store, 1 recall, 2 clear, 3 nothing) on the selected buffer.
  void ApplyMemoryOperation(int32_t op);

  // "M1 = ..." .. "M10 = ..." joined by single line feeds.
  std::string MemoryWindowText() const;
  void TransmitData1Click();  // shows and refreshes the memory window

  void ContestButtonClick(ContestButton button);
  void XmitUpDnClick(int position);

  // Change handlers of the call boxes and the scratch pad (the box's whole text).
  void RemoteCallMemoChange(std::string_view text);
  void MyCallMemoChange(std::string_view text);
  void ScatchPadMemoChange(std::string_view text);

  // At creation: buffers 16 and 17 from the boxes, 18 = both joined by " de ".
  void FillContestBuffers(std::string_view remoteCall, std::string_view myCall);

 private:
  // RECALL's arming step without its SendingState lock-out (the send paths run it too).
  void RecallArmingStep();
  void RefreshMemoryWindowIfVisible();
  // The buffer send both the memory and the contest buttons end with.
  void StartSend();
  void LoopOffIfLooping();

  TransmitState& tx_;
  MemoriesHost& host_;
  SendControl* send_;
};

}  // namespace kestrix::transmit
