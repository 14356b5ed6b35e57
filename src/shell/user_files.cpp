#include "shell/user_files.h"

#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QWidget>
#include <cstring>

namespace kestrix {

namespace {

// Unicode of Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes with no character.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252Byte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

bool IsLineBreak(QChar c) {
  // QPlainTextEdit gives '\n' between blocks; a soft break inside a block is U+2028.
  return c == QLatin1Char('\n') || c == QChar(0x2028) || c == QChar(0x2029);
}

// Pane lines: a final line break ends the last line rather than starting an empty one.
QStringList PaneLines(const QString& text) {
  QStringList lines;
  if (text.isEmpty()) return lines;
  QString line;
  for (const QChar c : text) {
    if (IsLineBreak(c)) {
      lines.append(line);
      line.clear();
    } else {
      line.append(c);
    }
  }
  if (!IsLineBreak(text.back())) lines.append(line);
  return lines;
}

bool WriteTextFile(QWidget* parent, const QPlainTextEdit& pane, UserFileHost& host) {
  const QString path = host.ChooseSaveFile(parent, TextSaveDialog());
  if (path.isEmpty()) return false;
  const std::string bytes = PaneTextToFileBytes(pane.toPlainText());
  // QSaveFile writes beside the target and renames, so a failed write keeps the old file.
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                      static_cast<qint64>(bytes.size()) &&
                  file.commit();
  if (!ok) {
    host.ShowError(
        parent, kUserFileErrorTitle,
        QStringLiteral("The text could not be saved to %1:\n%2").arg(path, file.errorString()));
    file.cancelWriting();
    return false;
  }
  return true;
}

}  // namespace

FileDialogSpec TextSaveDialog() {
  return {QStringLiteral("My Save Dialog"), QStringLiteral("Text Files (*.txt)"),
          QStringLiteral("txt"), QString()};
}

FileDialogSpec TextOpenDialog() {
  return {QString(), QStringLiteral("Text Files (*.txt)"), QStringLiteral("txt"), QString()};
}

FileDialogSpec PictureSaveDialog() {
  return {QString(), QStringLiteral("Kestrix ( *.bmp)"), QStringLiteral("bmp"),
          QStringLiteral("KestrixForm")};
}

QString QtUserFileHost::ChooseSaveFile(QWidget* parent, const FileDialogSpec& spec) {
  QFileDialog dialog(parent, spec.title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(spec.filter);
  dialog.setDefaultSuffix(spec.defaultSuffix);
  dialog.setSizeGripEnabled(true);
  if (!spec.proposedName.isEmpty()) dialog.selectFile(spec.proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString QtUserFileHost::ChooseOpenFile(QWidget* parent, const FileDialogSpec& spec) {
  QFileDialog dialog(parent, spec.title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(spec.filter);
  dialog.setDefaultSuffix(spec.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void QtUserFileHost::ShowError(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

namespace {
UserFileHost* gWindowHost = nullptr;
}  // namespace

UserFileHost& WindowUserFileHost() {
  static QtUserFileHost qtHost;
  return gWindowHost != nullptr ? *gWindowHost : qtHost;
}

void SetWindowUserFileHost(UserFileHost* host) {
  gWindowHost = host;
}

std::string ToCp1252(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (const QChar c : text) out += ToCp1252Byte(c.unicode());
  return out;
}

QString FromCp1252(std::string_view bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char ch : bytes) {
    const auto byte = static_cast<uint8_t>(ch);
    char16_t c = byte;
    if (byte >= 0x80 && byte <= 0x9F) c = kHigh[byte - 0x80] != 0 ? kHigh[byte - 0x80] : 0xFFFD;
    out.append(QChar(c));
  }
  return out;
}

std::string PaneTextToFileBytes(const QString& paneText) {
  std::string out;
  for (const QString& line : PaneLines(paneText)) {
    out += ToCp1252(line);
    out += "\r\n";
  }
  return out;
}

QString FileBytesToPaneText(std::string_view bytes) {
  QString text = FromCp1252(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text;
}

std::string PaneTextToSendBytes(const QString& paneText) {
  QString text = paneText;
  text.replace(QChar(0x2028), QLatin1Char('\n'));
  text.replace(QChar(0x2029), QLatin1Char('\n'));
  std::string out = ToCp1252(text);
  std::string crlf;
  crlf.reserve(out.size());
  for (const char c : out) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  if (crlf.size() > 4095) crlf.resize(4095);
  return crlf;
}

bool SaveRcv1Click(QWidget* parent, const QPlainTextEdit& memo2, UserFileHost& host) {
  return WriteTextFile(parent, memo2, host);
}

bool SaveXmit1Click(QWidget* parent, const QPlainTextEdit& memo1, UserFileHost& host) {
  return WriteTextFile(parent, memo1, host);
}

bool LoadXmit1Click(QWidget* parent, QPlainTextEdit& memo1, XmitLoadTarget target,
                    UserFileHost& host) {
  bool loaded = false;
  const QString path = host.ChooseOpenFile(parent, TextOpenDialog());
  if (!path.isEmpty()) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      host.ShowError(parent, kUserFileErrorTitle,
                     QStringLiteral("%1 could not be opened:\n%2").arg(path, file.errorString()));
      return false;
    }
    if (file.size() > kMaxXmitFileBytes) {
      host.ShowError(parent, kUserFileErrorTitle,
                     QStringLiteral("%1 is too large to load (%2 bytes; at most %3).")
                         .arg(path)
                         .arg(file.size())
                         .arg(kMaxXmitFileBytes));
      return false;
    }
    const QByteArray bytes = file.read(kMaxXmitFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
      host.ShowError(parent, kUserFileErrorTitle,
                     QStringLiteral("%1 could not be read:\n%2").arg(path, file.errorString()));
      return false;
    }
    memo1.setPlainText(FileBytesToPaneText(
        std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
    loaded = true;
  }

  // Also after a cancelled dialog: the pane's text becomes the text SEND sends.
  target.SelectedBuffer = 15;
  const std::string send = PaneTextToSendBytes(memo1.toPlainText());
  std::memcpy(target.Buffer15.data(), send.data(), send.size());
  target.Buffer15[send.size()] = '\0';
  target.XmitFileLoaded = 1;
  memo1.setFocus();
  return loaded;
}

bool SaveForm1Click(QWidget* clientArea, UserFileHost& host) {
  // The picture is taken before the dialog covers the window.
  const QImage picture = clientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QString path = host.ChooseSaveFile(clientArea, PictureSaveDialog());
  if (path.isEmpty()) return false;
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly) && picture.save(&file, "BMP") && file.commit();
  if (!ok) {
    const QString reason =
        file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("BMP error");
    file.cancelWriting();
    host.ShowError(clientArea, kUserFileErrorTitle,
                   QStringLiteral("The picture could not be saved to %1:\n%2").arg(path, reason));
    return false;
  }
  return true;
}

}  // namespace kestrix
