#include "shell/user_files.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "settings_test_util.h"

namespace kestrix {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

// Answers every dialog with a fixed path ("" = cancel) and records what was asked.
class ScriptedHost : public UserFileHost {
 public:
  QString answer;
  std::vector<FileDialogSpec> asked;
  std::vector<QString> errors;

  QString ChooseSaveFile(QWidget*, const FileDialogSpec& spec) override {
    asked.push_back(spec);
    return answer;
  }
  QString ChooseOpenFile(QWidget*, const FileDialogSpec& spec) override {
    asked.push_back(spec);
    return answer;
  }
  void ShowError(QWidget*, const QString& title, const QString& text) override {
    errors.push_back(title + ": " + text);
  }
};

std::string Str(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

struct TextCase {
  QString pane;
  std::string file;
};

TEST(UserFileText, PaneLinesBecomeCrLfLinesInWindows1252) {
  const TextCase cases[] = {
      {"", ""},
      {"cq cq de g4xyz", "cq cq de g4xyz\r\n"},
      {"a\nb", "a\r\nb\r\n"},
      {"a\n", "a\r\n"},  // a final break ends the line, it adds no empty one
      {"a\n\nb", "a\r\n\r\nb\r\n"},
      {"\n", "\r\n"},
      {QString::fromUtf8("caf\u00e9 \u20ac5 \u2014 \u00c4"),
       "caf\xe9 \x80"
       "5 \x97 \xc4\r\n"},
      {QString::fromUtf8("\u03a9 \u4e2d"), "? ?\r\n"},  // no byte for these
      {QString::fromUtf8("a\u2028b"), "a\r\nb\r\n"},    // a soft break is a line break too
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(PaneTextToFileBytes(c.pane), c.file) << c.pane.toStdString();
  }
}

TEST(UserFileText, AnyLineEndReadsAsOnePaneLine) {
  const struct {
    std::string file;
    QString pane;
  } cases[] = {
      {"", ""},
      {"a\nb\nc\n", "a\nb\nc"},
      {"a\r\nb\r\n", "a\nb"},
      {"a\rb\r", "a\nb"},
      {"a\r\n\nb\r", "a\n\nb"},
      {"no end", "no end"},
      {"\xe9\x80\x81", QString::fromUtf8("\u00e9\u20ac\ufffd")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileBytesToPaneText(c.file), c.pane) << c.file;
  }
}

TEST(UserFileText, EveryWindows1252CharacterSurvivesAPaneRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b == '\r' || b == '\n' || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) {
      continue;
    }
    all += static_cast<char>(b);
  }
  EXPECT_EQ(ToCp1252(FromCp1252(all)), all);
  EXPECT_EQ(PaneTextToFileBytes(FileBytesToPaneText(all + "\r\n")), all + "\r\n");
}

TEST(UserFileText, SendBufferTextUsesCrLfAndStopsAt4095Bytes) {
  EXPECT_EQ(PaneTextToSendBytes("a\nb"), "a\r\nb");
  EXPECT_EQ(PaneTextToSendBytes(QString(5000, QLatin1Char('e'))).size(), 4095u);
}

// The real dialog, inspected while it is open and then cancelled.
TEST(UserFileDialogs, QtSaveDialogShowsTheSpecAndAsksBeforeOverwriting) {
  QtUserFileHost host;
  QString title, suffix, selected;
  QStringList filters;
  bool confirm = false, resizable = false, found = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    found = true;
    filters = dialog->nameFilters();
    suffix = dialog->defaultSuffix();
    confirm = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    resizable = dialog->isSizeGripEnabled();
    selected = dialog->selectedFiles().value(0);
    dialog->reject();
  });
  EXPECT_TRUE(host.ChooseSaveFile(nullptr, PictureSaveDialog()).isEmpty());
  ASSERT_TRUE(found);
  EXPECT_EQ(filters, QStringList{"Kestrix ( *.bmp)"});
  EXPECT_EQ(suffix, "bmp");
  EXPECT_TRUE(confirm);
  EXPECT_TRUE(resizable);
  EXPECT_TRUE(selected.endsWith("KestrixForm.bmp")) << selected.toStdString();

  QTimer::singleShot(0, [&] {
    if (auto* dialog = QApplication::activeModalWidget()) {
      title = dialog->windowTitle();
      static_cast<QDialog*>(dialog)->reject();
    }
  });
  host.ChooseSaveFile(nullptr, TextSaveDialog());
  EXPECT_EQ(title, "My Save Dialog");
}

struct Transmitter {
  std::atomic<int32_t> SelectedBuffer{0};
  std::atomic<uint8_t> XmitFileLoaded{0};
  std::array<char, 4096> Buffer15{};
  XmitLoadTarget Target() { return {SelectedBuffer, XmitFileLoaded, Buffer15}; }
};

// A scratch folder, a pane, the transmit buffers and a host whose dialogs answer with a file
// in the folder.
class UserFiles : public ::testing::Test {
 protected:
  // The next dialogs answer with this file ("" = cancel).
  void Answer(const std::string& name) {
    host.answer = name.empty() ? QString() : QString::fromStdString(dir.File(name));
  }
  std::string Read(const std::string& name) const { return Str(ReadBytes(dir.File(name))); }
  bool LoadXmit() { return LoadXmit1Click(nullptr, memo, tx.Target(), host); }

  ScratchFolder dir;
  ScriptedHost host;
  QPlainTextEdit memo;
  Transmitter tx;
};

TEST_F(UserFiles, SaveTextWritesThePaneOrNothingWhenCancelled) {
  memo.setPlainText(QString::fromUtf8("cq de dl1abc\n5nn tu \u00e9"));
  EXPECT_FALSE(SaveRcv1Click(nullptr, memo, host));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  Answer("rcv.txt");
  EXPECT_TRUE(SaveRcv1Click(nullptr, memo, host));
  EXPECT_EQ(Read("rcv.txt"), "cq de dl1abc\r\n5nn tu \xe9\r\n");
  ASSERT_EQ(host.asked.size(), 2u);
  EXPECT_EQ(host.asked[1].title, "My Save Dialog");
  EXPECT_EQ(host.asked[1].filter, "Text Files (*.txt)");
  EXPECT_EQ(host.asked[1].defaultSuffix, "txt");

  memo.clear();
  Answer("xmit.txt");
  EXPECT_TRUE(SaveXmit1Click(nullptr, memo, host));
  EXPECT_EQ(std::filesystem::file_size(dir.File("xmit.txt")), 0u);  // empty pane, empty file
  EXPECT_TRUE(host.errors.empty());
}

TEST_F(UserFiles, SaveTextToAnUnwritablePlaceIsReportedAndTheOldFileKept) {
  memo.setPlainText("text");
  Answer("missing/rcv.txt");
  EXPECT_FALSE(SaveRcv1Click(nullptr, memo, host));
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_TRUE(host.errors[0].startsWith("Error Message: "));
  EXPECT_TRUE(host.errors[0].contains("missing/rcv.txt"));

  // A folder in the way of the file: reported, the folder untouched.
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("taken.txt")));
  Answer("taken.txt");
  EXPECT_FALSE(SaveRcv1Click(nullptr, memo, host));
  EXPECT_EQ(host.errors.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken.txt")));
}

TEST_F(UserFiles, LoadXmitGivesOnePaneLinePerLfLineAndFillsBuffer15) {
  WriteBytes(dir.File("msg.txt"), {'c', 'q', '\n', '\n', 't', 'e', 's', 't', ' ', 0xe9, '\n'});
  memo.setPlainText("old");
  Answer("msg.txt");
  EXPECT_TRUE(LoadXmit());
  EXPECT_EQ(memo.blockCount(), 3);
  EXPECT_EQ(memo.toPlainText(), QString::fromUtf8("cq\n\ntest \u00e9"));
  EXPECT_EQ(tx.SelectedBuffer, 15);
  EXPECT_EQ(tx.XmitFileLoaded, 1);
  EXPECT_STREQ(tx.Buffer15.data(), "cq\r\n\r\ntest \xe9");
  EXPECT_EQ(host.asked.at(0).filter, "Text Files (*.txt)");
}

TEST_F(UserFiles, LoadXmitCancelledStillSelectsBuffer15WithThePaneText) {
  memo.setPlainText("already here\nline 2");
  tx.Buffer15.fill('#');
  EXPECT_FALSE(LoadXmit());
  EXPECT_EQ(memo.toPlainText(), "already here\nline 2");
  EXPECT_EQ(tx.SelectedBuffer, 15);
  EXPECT_EQ(tx.XmitFileLoaded, 1);
  EXPECT_STREQ(tx.Buffer15.data(), "already here\r\nline 2");
  EXPECT_EQ(tx.Buffer15[100], '#');  // a string copy: the rest of the buffer stays
}

TEST_F(UserFiles, LoadXmitCutsALongPaneTo4095CharactersInBuffer15) {
  WriteBytes(dir.File("long.txt"), std::vector<uint8_t>(6000, 'e'));
  Answer("long.txt");
  EXPECT_TRUE(LoadXmit());
  EXPECT_EQ(memo.toPlainText().size(), 6000);  // the pane keeps all of it
  EXPECT_EQ(std::strlen(tx.Buffer15.data()), 4095u);
}

TEST_F(UserFiles, LoadXmitOfAnUnreadableOrHugeFileChangesNothing) {
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder.txt")));
  {
    std::ofstream big(dir.File("big.txt"), std::ios::binary);
    big.seekp(kMaxXmitFileBytes);
    big.put('x');
  }
  memo.setPlainText("keep me");
  tx.SelectedBuffer = 3;
  for (const std::string name : {"missing.txt", "folder.txt", "big.txt"}) {
    SCOPED_TRACE(name);
    host.errors.clear();
    Answer(name);
    EXPECT_FALSE(LoadXmit());
    EXPECT_EQ(memo.toPlainText(), "keep me");
    EXPECT_EQ(tx.SelectedBuffer, 3);
    EXPECT_EQ(tx.XmitFileLoaded, 0);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(host.errors[0].contains(QString::fromStdString(name)));
  }
}

TEST_F(UserFiles, SaveFormWritesTheClientAreaAsBmpOrNothingWhenCancelled) {
  QWidget form;
  form.setFixedSize(120, 80);
  form.setStyleSheet("background: rgb(128, 0, 128);");
  auto* layout = new QVBoxLayout(&form);
  layout->addWidget(new QPushButton("START"));
  form.show();
  QApplication::processEvents();

  EXPECT_FALSE(SaveForm1Click(&form, host));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  Answer("KestrixForm.bmp");
  ASSERT_TRUE(SaveForm1Click(&form, host));
  EXPECT_EQ(host.asked.back().proposedName, "KestrixForm");
  QImage image;
  ASSERT_TRUE(image.load(host.answer, "BMP"));
  EXPECT_EQ(image.size(), form.size() * form.devicePixelRatio());
  EXPECT_EQ(image.pixelColor(2, 2), QColor(128, 0, 128));

  // An unwritable place is reported.
  Answer("missing/form.bmp");
  EXPECT_FALSE(SaveForm1Click(&form, host));
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_TRUE(host.errors[0].contains("missing/form.bmp"));
}

}  // namespace
}  // namespace kestrix
