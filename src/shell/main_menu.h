// The main menu: every item with its caption, the submenus whose items are alternatives
// as exclusive groups (choosing one checks it and clears its siblings), hidden items
// present but not shown, and the initial check marks. Object names are the handler
// names without "Click" ("Upper1" for Upper1Click), so code and tests can find them.
// The window connects the items to its handlers. GUI thread only.
#pragma once

#include <QAction>
#include <QMenu>

class QMenuBar;

namespace kestrix::shell {

struct MainMenu {
  // File
  QAction* SaveRcv1 = nullptr;
  QAction* SaveXmit1 = nullptr;
  QAction* LoadXmit1 = nullptr;
  QAction* SaveForm1 = nullptr;
  QAction* Quit1 = nullptr;

  // Options
  QAction* SelectSoundCard = nullptr;
  QAction* MicInput = nullptr;
  QAction* RightInput = nullptr;
  QAction* LeftInput = nullptr;
  QMenu* FadeControl1 = nullptr;  // hidden
  QAction* Fade_On = nullptr;
  QAction* Fade_Off = nullptr;
  QMenu* OutputPort1 = nullptr;  // hidden
  QAction* COMPort1 = nullptr;
  QAction* SerialPorts[8] = {};  // "Serial Port 1".."Serial Port 8", each hidden
  QAction* Printer11 = nullptr;
  QAction* Printer21 = nullptr;
  QAction* None1 = nullptr;
  QAction* Normal4 = nullptr;  // Options > Output Port > Invert Xmit
  QAction* Invert1 = nullptr;
  QAction* Off2 = nullptr;  // Stay On Top
  QAction* On1 = nullptr;
  QAction* MsgsOFF = nullptr;
  QAction* MsgsON = nullptr;

  // Receive
  QAction* Text2 = nullptr;
  QAction* Manual2 = nullptr;
  QAction* Quiet1 = nullptr;
  QAction* Normal2 = nullptr;
  QAction* Noisy2 = nullptr;
  QAction* Auto4 = nullptr;  // hidden
  QAction* Manual3 = nullptr;
  QAction* FilterOn1 = nullptr;
  QAction* FilterOff1 = nullptr;
  QAction* Auto3 = nullptr;
  QAction* N25WPM1 = nullptr;   // "10 wpm"
  QAction* N35wpm1 = nullptr;   // "20 wpm"
  QAction* N50wpm1 = nullptr;   // "30 wpm"
  QAction* N50wpm2 = nullptr;   // "50+ wpm"
  QAction* Classic1 = nullptr;  // Decoder: the classic chain (the default)
  QAction* Soft1 = nullptr;     // Decoder: the soft engine

  // Afc
  QAction* Off1 = nullptr;
  QAction* Narrow1 = nullptr;
  QAction* Medium1 = nullptr;
  QAction* Wide1 = nullptr;
  QAction* AFCStartFreq = nullptr;

  // Text
  QAction* Upper1 = nullptr;
  QAction* Lower1 = nullptr;
  QAction* Normal1 = nullptr;
  QAction* Bold1 = nullptr;
  QAction* SmallFont1 = nullptr;
  QAction* NormalFont1 = nullptr;
  QAction* MediumFont1 = nullptr;
  QAction* LargeFont1 = nullptr;
  QAction* ScrollingOn1 = nullptr;
  QAction* ScrollingOff1 = nullptr;
  QAction* SpacesOn = nullptr;
  QAction* SpacesOff = nullptr;
  QAction* Short1 = nullptr;
  QAction* Medium2 = nullptr;
  QAction* Long1 = nullptr;
  QAction* ProsignEnable = nullptr;
  QAction* ProsignDisable = nullptr;
  QAction* EnableEnglish = nullptr;
  QAction* DisableEnglish = nullptr;

  // Display
  QAction* Spectrum1 = nullptr;  // "Line"
  QAction* Waterfall2 = nullptr;
  QAction* Enable3 = nullptr;   // Timeline > Enable
  QAction* BandMap1 = nullptr;  // checked while the band map window is open

  // Transmit
  QAction* SoundCard1 = nullptr;
  QAction* SerialPort1 = nullptr;
  QAction* PortNumber1 = nullptr;
  QAction* None2 = nullptr;
  QAction* Normal3 = nullptr;
  QAction* Invert2 = nullptr;
  QAction* Freq1 = nullptr;
  QAction* Freq2 = nullptr;
  QAction* Freq3 = nullptr;
  QAction* Sinewave1 = nullptr;
  QAction* Squarewave1 = nullptr;
  QAction* SideToneOn = nullptr;
  QAction* SideToneOFF = nullptr;
  QAction* CharacterConfig = nullptr;
  QAction* F10ScratchPad = nullptr;
  QAction* ContestWindow = nullptr;
  QAction* TransmitData1 = nullptr;

  // Help
  QAction* HelpMenu1 = nullptr;
  QAction* About1 = nullptr;

  // Builds the whole tree into `bar`.
  void Build(QMenuBar* bar);
};

}  // namespace kestrix::shell
