// The File menu's user files: the received and the transmit text saved as plain text,
// transmit text loaded from a text file, and a picture of the window saved as BMP.
//
// Texts in files are single-byte Windows-1252, every line ended by CR LF; reading accepts
// CR LF, LF or CR. The panes hold Unicode, so the conversion happens here, at the edge.
// A file that cannot be read or written is reported in a message box and changes nothing.
//
// GUI thread only. The dialogs and message boxes go through UserFileHost so tests can
// answer them.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class QPlainTextEdit;
class QWidget;

namespace kestrix {

inline constexpr const char* kUserFileErrorTitle = "Error Message";
// Loading refuses larger files: far beyond anything a transmit pane is meant to hold.
inline constexpr int64_t kMaxXmitFileBytes = 1 << 20;

// What a file dialog shows.
struct FileDialogSpec {
  QString title;          // empty: the toolkit's own
  QString filter;         // Qt filter syntax, "Caption (patterns)"
  QString defaultSuffix;  // added when the name typed has none
  QString proposedName;   // file name filled in when the dialog opens
};

FileDialogSpec TextSaveDialog();     // SaveDialog1
FileDialogSpec TextOpenDialog();     // OpenDialog1
FileDialogSpec PictureSaveDialog();  // SaveGraphicsDialog

// The dialogs and message boxes; tests answer them without a user.
class UserFileHost {
 public:
  virtual ~UserFileHost() = default;
  // The chosen path, or an empty string when the dialog is cancelled. Save dialogs ask
  // before an existing file is replaced.
  virtual QString ChooseSaveFile(QWidget* parent, const FileDialogSpec& spec) = 0;
  virtual QString ChooseOpenFile(QWidget* parent, const FileDialogSpec& spec) = 0;
  virtual void ShowError(QWidget* parent, const QString& title, const QString& text) = 0;
};

// QFileDialog (resizable, overwrite prompt) and QMessageBox with an OK button.
class QtUserFileHost : public UserFileHost {
 public:
  QString ChooseSaveFile(QWidget* parent, const FileDialogSpec& spec) override;
  QString ChooseOpenFile(QWidget* parent, const FileDialogSpec& spec) override;
  void ShowError(QWidget* parent, const QString& title, const QString& text) override;
};

// The host the main window's File menu uses: a QtUserFileHost unless a test has set
// another. Passing nullptr puts the Qt one back.
UserFileHost& WindowUserFileHost();
void SetWindowUserFileHost(UserFileHost* host);

// Windows-1252 <-> Unicode. Characters Windows-1252 has no byte for become '?'; the five
// bytes with no character become U+FFFD.
std::string ToCp1252(const QString& text);
QString FromCp1252(std::string_view bytes);

// A pane's text as a file: one line per pane line, each ended by CR LF; an empty pane is
// an empty file. A final line break in the pane does not add an empty line.
std::string PaneTextToFileBytes(const QString& paneText);
// A file's text for a pane: CR LF, LF and CR all end a line; the last line's end is not an
// extra empty line.
QString FileBytesToPaneText(std::string_view bytes);
// A pane's text as the send thread reads it from a buffer: lines joined by CR LF, cut to
// fit a 4096-byte buffer with its terminator (4,095 bytes).
std::string PaneTextToSendBytes(const QString& paneText);

// What Load Xmit changes in the transmitter.
struct XmitLoadTarget {
  std::atomic<int32_t>& SelectedBuffer;
  std::atomic<uint8_t>& XmitFileLoaded;
  std::array<char, 4096>& Buffer15;
};

// File > "Save Rcv" / "Save Xmit": the pane's lines to the file chosen in SaveDialog1.
// Returns true when a file was written.
bool SaveRcv1Click(QWidget* parent, const QPlainTextEdit& memo2, UserFileHost& host);
bool SaveXmit1Click(QWidget* parent, const QPlainTextEdit& memo1, UserFileHost& host);

// File > "Load Xmit": the chosen file replaces Memo1's lines; then, whether a file was
// chosen or the dialog cancelled, buffer 15 is selected and filled from Memo1,
// XmitFileLoaded is raised and Memo1 takes the focus. A file that cannot be read leaves
// the pane and the transmitter as they were. Returns true when a file was loaded.
bool LoadXmit1Click(QWidget* parent, QPlainTextEdit& memo1, XmitLoadTarget target,
                    UserFileHost& host);

// File > "Save Form": `clientArea` as it looks now, saved as BMP to the file chosen in
// SaveGraphicsDialog. Nothing is written when the dialog is cancelled. Returns true when
// a file was written.
bool SaveForm1Click(QWidget* clientArea, UserFileHost& host);

}  // namespace kestrix
