// The window's part of the message memories and the contest strip: connects Msg1..Msg10,
// STORE / RECALL / CLR MSG, the six contest buttons, XmitUpDn, the call boxes, the scratch
// pad and the Transmit > "Transmit Memory Data" menu to the GUI-free Memories, and shows
// their effects on the transmit pane, the captions and the memory window. Also the keys of
// the transmit side that are not the pane's: the Alt accelerators and Up / Down in the
// scratch pad and the receive text panel.
//
// Until the transmit controller is plugged in (SetSendControl), SEND is pressed through the
// SendBtn button and LOOP through the window's handler. GUI thread only.
#pragma once

#include <QObject>
#include <memory>

#include "transmit/memories.h"
#include "transmit/send_control.h"

class QPushButton;

namespace kestrix::shell {

class MainWindow;
class TransmitMemoryForm;
struct TransmitPanel;

class MemoriesPanel : public QObject,
                      private transmit::MemoriesHost,
                      private transmit::SendControl {
  Q_OBJECT

 public:
  explicit MemoriesPanel(MainWindow& window);
  ~MemoriesPanel() override;

  transmit::Memories& Logic() { return memories_; }
  // SEND and LOOP from now on go through `send` (the transmit controller).
  void SetSendControl(transmit::SendControl& send) { memories_.SetSendControl(send); }

  // Msg1ButtonClick..Msg10ButtonClick, as the buttons do.
  void MemoryButtonClick(int n) { memories_.MemoryButtonClick(n); }
  // F1..F10: memory n sent with no memory operation armed.
  void MemoryKeyClick(int n) { memories_.MemoryKeyClick(n); }
  void ApplyMemoryOperation(int32_t op) { memories_.ApplyMemoryOperation(op); }
  void TransmitData1Click() { memories_.TransmitData1Click(); }
  // SEND's stop path, LOOP and the typing-mode buttons disarm and reset the colours.
  void DisarmMemoryOperation() { memories_.DisarmMemoryOperation(); }
  void ResetMessageButtonColours() { memories_.ResetMessageButtonColours(); }
  // Creation: buffers 16..18 from the call boxes.
  void FillContestBuffers();
  // Transmit > Transmit Window: the scratch pad or the contest strip under the buttons.
  void F10ScratchPadClick();
  void ContestWindowClick();

  TransmitMemoryForm& MemoryForm() { return *form_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // MemoriesHost
  std::string PaneText() override;
  void SetPaneText(std::string_view text) override;
  void AppendPaneText(std::string_view text) override;
  void PaneCaretToStart() override;
  void PaneCaretToEnd() override;
  void ShowPaneWritable() override;
  void FocusPane() override;
  void ShowArmedButton(int32_t op) override;
  void ResetSendButtonColours() override;
  void ShowMemoryButtonChosen(int n) override;
  void ShowContestButtonChosen(transmit::ContestButton button) override;
  void SetScratchPadText(std::string_view text) override;
  void ShowContestSerial(int serial) override;
  bool MemoryWindowVisible() override;
  void ShowMemoryWindow() override;
  void SetMemoryWindowText(std::string_view text) override;

  // SendControl stand-in.
  void SendBtnClick() override;
  void LoopButtonClick() override;

  void Connect();
  QPushButton* ContestButtonWidget(transmit::ContestButton button) const;

  MainWindow& w_;
  const TransmitPanel& tp_;
  transmit::Memories memories_;
  TransmitMemoryForm* form_ = nullptr;  // owned by the main window
};

}  // namespace kestrix::shell
