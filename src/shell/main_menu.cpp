#include "shell/main_menu.h"

#include <QActionGroup>
#include <QMenuBar>
#include <initializer_list>

namespace kestrix::shell {
namespace {

QMenu* AddMenu(QWidget* parent, const char* name, const QString& title) {
  QMenu* m = nullptr;
  if (auto* bar = qobject_cast<QMenuBar*>(parent)) {
    m = bar->addMenu(title);
  } else {
    m = static_cast<QMenu*>(parent)->addMenu(title);
  }
  m->setObjectName(QString::fromLatin1(name));
  m->menuAction()->setObjectName(QString::fromLatin1(name));
  return m;
}

QAction* AddItem(QMenu* menu, const char* name, const QString& text) {
  QAction* a = menu->addAction(text);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

// Makes the items alternatives of one another; `checked` (may be null) starts checked.
void Radio(QMenu* menu, std::initializer_list<QAction*> items, QAction* checked) {
  auto* group = new QActionGroup(menu);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  for (QAction* a : items) {
    a->setCheckable(true);
    group->addAction(a);
  }
  if (checked) checked->setChecked(true);
}

}  // namespace

void MainMenu::Build(QMenuBar* bar) {
  // File
  QMenu* file = AddMenu(bar, "File1", "File");
  SaveRcv1 = AddItem(file, "SaveRcv1", "Save Rcv");
  SaveXmit1 = AddItem(file, "SaveXmit1", "Save Xmit");
  LoadXmit1 = AddItem(file, "LoadXmit1", "Load Xmit");
  file->addSeparator();
  SaveForm1 = AddItem(file, "SaveForm1", "Save Form");
  file->addSeparator();
  Quit1 = AddItem(file, "Quit1", "Quit");

  // Options
  QMenu* options = AddMenu(bar, "Options1", "Options");
  SelectSoundCard = AddItem(options, "SelectSoundCard", "Select Sound Card");

  QMenu* input = AddMenu(options, "Input1", "Input");
  MicInput = AddItem(input, "MicInput", "Mic");
  RightInput = AddItem(input, "RightInput", "Right");
  LeftInput = AddItem(input, "LeftInput", "Left");
  Radio(input, {MicInput, RightInput, LeftInput}, MicInput);

  FadeControl1 = AddMenu(options, "FadeControl1", "Fade Control");
  Fade_On = AddItem(FadeControl1, "Fade_On", "ON");
  Fade_Off = AddItem(FadeControl1, "Fade_Off", "OFF");
  Radio(FadeControl1, {Fade_On, Fade_Off}, Fade_Off);
  FadeControl1->menuAction()->setVisible(false);

  OutputPort1 = AddMenu(options, "OutputPort1", "Output Port");
  COMPort1 = AddItem(OutputPort1, "COMPort1", "COM Port");
  static const char* const kSerialNames[8] = {"SerialPort11", "SerialPort21", "SerialPort31",
                                              "SerialPort41", "SerialPort51", "SerialPort61",
                                              "SerialPort71", "SerialPort81"};
  for (int i = 0; i < 8; ++i) {
    SerialPorts[i] = AddItem(OutputPort1, kSerialNames[i], QString("Serial Port %1").arg(i + 1));
    SerialPorts[i]->setVisible(false);
  }
  Printer11 = AddItem(OutputPort1, "Printer11", "Printer 1");
  Printer21 = AddItem(OutputPort1, "Printer21", "Printer 2");
  None1 = AddItem(OutputPort1, "None1", "None");
  Radio(OutputPort1,
        {COMPort1, SerialPorts[0], SerialPorts[1], SerialPorts[2], SerialPorts[3], SerialPorts[4],
         SerialPorts[5], SerialPorts[6], SerialPorts[7], Printer11, Printer21, None1},
        None1);
  OutputPort1->addSeparator();
  QMenu* invertOld = AddMenu(OutputPort1, "InvertXmit1", "Invert Xmit");
  Normal4 = AddItem(invertOld, "Normal4", "Normal");
  Invert1 = AddItem(invertOld, "Invert1", "Invert");
  Radio(invertOld, {Normal4, Invert1}, Normal4);
  OutputPort1->menuAction()->setVisible(false);

  QMenu* onTop = AddMenu(options, "StayOnTop1", "Stay On Top");
  Off2 = AddItem(onTop, "Off2", "Off");
  On1 = AddItem(onTop, "On1", "On");
  Radio(onTop, {Off2, On1}, Off2);

  QMenu* messaging = AddMenu(options, "Messaging1", "Messaging");
  MsgsOFF = AddItem(messaging, "MsgsOFF", "Msgs OFF");
  MsgsON = AddItem(messaging, "MsgsON", "Msgs ON");
  Radio(messaging, {MsgsOFF, MsgsON}, MsgsOFF);

  // Receive
  QMenu* receive = AddMenu(bar, "Receive1", "Receive");
  QMenu* modes = AddMenu(receive, "OpModes1", "Op Modes");
  Text2 = AddItem(modes, "Text2", "Text");
  Manual2 = AddItem(modes, "Manual2", "Manual");
  Radio(modes, {Text2, Manual2}, nullptr);

  QMenu* threshold = AddMenu(receive, "Threshold1", "Threshold");
  Quiet1 = AddItem(threshold, "Quiet1", "Quiet");
  Normal2 = AddItem(threshold, "Normal2", "Normal");
  Noisy2 = AddItem(threshold, "Noisy2", "Noisy");
  Auto4 = AddItem(threshold, "Auto4", "Auto");
  Manual3 = AddItem(threshold, "Manual3", "Manual");
  Radio(threshold, {Quiet1, Normal2, Noisy2, Auto4, Manual3}, nullptr);
  Auto4->setVisible(false);

  QMenu* noise = AddMenu(receive, "NoiseFilter1", "Noise Filter");
  FilterOn1 = AddItem(noise, "FilterOn1", "Filter On");
  FilterOff1 = AddItem(noise, "FilterOff1", "Filter Off");
  Radio(noise, {FilterOn1, FilterOff1}, nullptr);

  QMenu* speed = AddMenu(receive, "ReceiveSpeed1", "Receive Speed");
  Auto3 = AddItem(speed, "Auto3", "Auto");
  N25WPM1 = AddItem(speed, "N25WPM1", "10 wpm");
  N35wpm1 = AddItem(speed, "N35wpm1", "20 wpm");
  N50wpm1 = AddItem(speed, "N50wpm1", "30 wpm");
  N50wpm2 = AddItem(speed, "N50wpm2", "50+ wpm");
  Radio(speed, {Auto3, N25WPM1, N35wpm1, N50wpm1, N50wpm2}, nullptr);

  QMenu* decoder = AddMenu(receive, "Decoder1", "Decoder");
  Classic1 = AddItem(decoder, "Classic1", "Classic");
  Soft1 = AddItem(decoder, "Soft1", "Soft");
  Radio(decoder, {Classic1, Soft1}, Classic1);

  // Afc
  QMenu* afc = AddMenu(bar, "Afc1", "Afc");
  Off1 = AddItem(afc, "Off1", "Off");
  Narrow1 = AddItem(afc, "Narrow1", "Narrow");
  Medium1 = AddItem(afc, "Medium1", "Medium");
  Wide1 = AddItem(afc, "Wide1", "Wide");
  Radio(afc, {Off1, Narrow1, Medium1, Wide1}, Off1);
  afc->addSeparator();
  AFCStartFreq = AddItem(afc, "AFCStartFreq", "AFC Start Freq");

  // Text
  QMenu* text = AddMenu(bar, "Text1", "Text");
  QMenu* letterCase = AddMenu(text, "Case1", "Case");
  Upper1 = AddItem(letterCase, "Upper1", "Upper");
  Lower1 = AddItem(letterCase, "Lower1", "Lower");
  Radio(letterCase, {Upper1, Lower1}, Lower1);

  QMenu* type = AddMenu(text, "Type1", "Type");
  Normal1 = AddItem(type, "Normal1", "Normal");
  Bold1 = AddItem(type, "Bold1", "Bold");
  Radio(type, {Normal1, Bold1}, Normal1);

  QMenu* size = AddMenu(text, "Size1", "Size");
  SmallFont1 = AddItem(size, "SmallFont1", "Small Font");
  NormalFont1 = AddItem(size, "NormalFont1", "Normal Font");
  MediumFont1 = AddItem(size, "MediumFont1", "Medium Font");
  LargeFont1 = AddItem(size, "LargeFont1", "Large Font");
  Radio(size, {SmallFont1, NormalFont1, MediumFont1, LargeFont1}, NormalFont1);

  QMenu* scrolling = AddMenu(text, "Scrolling1", "Scrolling");
  ScrollingOn1 = AddItem(scrolling, "ScrollingOn1", "Scrolling On");
  ScrollingOff1 = AddItem(scrolling, "ScrollingOff1", "Scrolling Off");
  Radio(scrolling, {ScrollingOn1, ScrollingOff1}, ScrollingOn1);

  QMenu* spaces = AddMenu(text, "Spaces1", "Spaces");
  SpacesOn = AddItem(spaces, "SpacesOn", "On");
  SpacesOff = AddItem(spaces, "SpacesOff", "Off");
  Radio(spaces, {SpacesOn, SpacesOff}, SpacesOn);

  QMenu* spaceTime = AddMenu(text, "SpaceTime1", "Space Time");
  Short1 = AddItem(spaceTime, "Short1", "Short");
  Medium2 = AddItem(spaceTime, "Medium2", "Medium");
  Long1 = AddItem(spaceTime, "Long1", "Long");
  Radio(spaceTime, {Short1, Medium2, Long1}, Medium2);

  QMenu* prosigns = AddMenu(text, "Prosigns1", "Prosigns");
  ProsignEnable = AddItem(prosigns, "ProsignEnable", "Enable");
  ProsignDisable = AddItem(prosigns, "ProsignDisable", "Disable");
  Radio(prosigns, {ProsignEnable, ProsignDisable}, ProsignEnable);

  QMenu* nonEnglish = AddMenu(text, "NonEnglish1", "Non English");
  EnableEnglish = AddItem(nonEnglish, "EnableEnglish", "Enable");
  DisableEnglish = AddItem(nonEnglish, "DisableEnglish", "Disable");
  Radio(nonEnglish, {EnableEnglish, DisableEnglish}, DisableEnglish);

  // Display
  QMenu* display = AddMenu(bar, "Display1", "Display");
  QMenu* displayType = AddMenu(display, "DisplayType1", "Type");
  Spectrum1 = AddItem(displayType, "Spectrum1", "Line");
  Waterfall2 = AddItem(displayType, "Waterfall2", "Waterfall");
  Radio(displayType, {Spectrum1, Waterfall2}, Spectrum1);
  QMenu* timeline = AddMenu(display, "Timeline1", "Timeline");
  Enable3 = AddItem(timeline, "Enable3", "Enable");
  BandMap1 = AddItem(display, "BandMap1", "Band Map");
  BandMap1->setCheckable(true);

  // Transmit
  QMenu* transmit = AddMenu(bar, "Transmit1", "Transmit");
  QMenu* device = AddMenu(transmit, "OutputDevice1", "Output Device");
  SoundCard1 = AddItem(device, "SoundCard1", "Sound Card");
  SerialPort1 = AddItem(device, "SerialPort1", "Serial Port");
  Radio(device, {SoundCard1, SerialPort1}, nullptr);

  QMenu* port = AddMenu(transmit, "OutputPort2", "Output Port");
  PortNumber1 = AddItem(port, "PortNumber1", "Port Number");
  None2 = AddItem(port, "None2", "None");
  Radio(port, {PortNumber1, None2}, None2);

  QMenu* invert = AddMenu(transmit, "InvertXmit2", "Invert Xmit");
  Normal3 = AddItem(invert, "Normal3", "Normal");
  Invert2 = AddItem(invert, "Invert2", "Invert");
  Radio(invert, {Normal3, Invert2}, Normal3);

  QMenu* sideTone = AddMenu(transmit, "SideTone1", "SideTone");
  QMenu* soundFreq = AddMenu(sideTone, "SoundFrequency1", "Sound Frequency");
  Freq1 = AddItem(soundFreq, "Freq1", "600 hz");
  Freq2 = AddItem(soundFreq, "Freq2", "750 Hz");
  Freq3 = AddItem(soundFreq, "Freq3", "1000 Hz");
  Radio(soundFreq, {Freq1, Freq2, Freq3}, Freq2);
  QMenu* waveform = AddMenu(sideTone, "SoundWaveform1", "Sound Waveform");
  Sinewave1 = AddItem(waveform, "Sinewave1", "Sinewave");
  Squarewave1 = AddItem(waveform, "Squarewave1", "SqurareWave");
  Radio(waveform, {Sinewave1, Squarewave1}, Sinewave1);
  sideTone->addSeparator();
  SideToneOn = AddItem(sideTone, "SideToneOn", "ON");
  SideToneOFF = AddItem(sideTone, "SideToneOFF", "OFF");
  Radio(sideTone, {SideToneOn, SideToneOFF}, SideToneOFF);

  QMenu* timing = AddMenu(transmit, "CharacterTiming1", "Character Timing");
  CharacterConfig = AddItem(timing, "CharacterConfig", "Show Configuration");

  QMenu* window = AddMenu(transmit, "TransmitWindow1", "Transmit Window");
  F10ScratchPad = AddItem(window, "F10ScratchPad", "F10 ScatchPad");
  ContestWindow = AddItem(window, "ContestWindow", "Contest Window");
  Radio(window, {F10ScratchPad, ContestWindow}, F10ScratchPad);

  TransmitData1 = AddItem(transmit, "TransmitData1", "Transmit Memory Data");

  // Help
  QMenu* help = AddMenu(bar, "Help1", "Help");
  HelpMenu1 = AddItem(help, "HelpMenu1", "Help Menu");
  About1 = AddItem(help, "About1", "About");
}

}  // namespace kestrix::shell
