#include "shell/band_map_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kestrix::shell {

namespace {
constexpr int kAudioHzRole = Qt::UserRole;
}  // namespace

BandMapWindow::BandMapWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("BandMapForm");
  setWindowTitle(kBandMapTitle);
  setAttribute(Qt::WA_DeleteOnClose, false);

  auto* options = new QHBoxLayout;
  options->addWidget(new QLabel("Dial kHz:", this));
  dial_ = new QLineEdit(this);
  dial_->setObjectName("DialKhzEdit");
  dial_->setPlaceholderText("none: audio Hz");
  dial_->setToolTip(
      "The receiver's dial frequency in kHz (USB), for a receiver without rig control");
  dial_->setMaximumWidth(120);
  options->addWidget(dial_);
  options->addSpacing(12);
  options->addWidget(new QLabel("rigctld:", this));
  rigctld_ = new QLineEdit(this);
  rigctld_->setObjectName("RigctldEdit");
  rigctld_->setPlaceholderText("HOST:PORT");
  rigctld_->setToolTip("Follow the dial through Hamlib's rigctld (used from the next opening)");
  rigctld_->setMaximumWidth(180);
  options->addWidget(rigctld_);
  options->addSpacing(12);
  status_ = new QLabel(this);
  status_->setObjectName("BandMapStatus");
  options->addWidget(status_, 1);

  view_ = new BandMapView(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName("StationList");
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setHeaderLabels({"Call", "Frequency", "dB", "WPM", "CQ", "Last heard"});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->header()->setStretchLastSection(true);

  split_ = new QSplitter(Qt::Vertical, this);
  split_->setObjectName("BandMapSplit");
  split_->addWidget(view_);
  split_->addWidget(list_);
  split_->setStretchFactor(0, 3);
  split_->setStretchFactor(1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(options);
  layout->addWidget(split_, 1);
  resize(900, 600);

  connect(view_, &BandMapView::tuneRequested, this, &BandMapWindow::tuneRequested);
  // Enter and a double-click both activate a row.
  connect(list_, &QTreeWidget::itemActivated, this, &BandMapWindow::RowActivated);
  connect(dial_, &QLineEdit::editingFinished, this, &BandMapWindow::DialEdited);
  connect(rigctld_, &QLineEdit::editingFinished, this,
          [this] { emit rigctldChanged(rigctld_->text().trimmed()); });
}

void BandMapWindow::SetOptions(const std::string& rigctld, std::optional<double> dialKhz) {
  rigctld_->setText(QString::fromStdString(rigctld));
  dial_->setText(dialKhz ? QLocale::c().toString(*dialKhz, 'f', 3) : QString());
}

void BandMapWindow::DialEdited() {
  const QString text = dial_->text().trimmed();
  if (text.isEmpty()) {
    dial_->setStyleSheet({});
    emit dialChanged(std::nullopt);
    return;
  }
  bool ok = false;
  // A decimal comma typed by habit is taken as the point.
  const double khz = QLocale::c().toDouble(QString(text).replace(',', '.'), &ok);
  if (!ok || khz <= 0.0 || khz >= 1e8) {
    dial_->setStyleSheet("color: red");
    dial_->setToolTip("Not a frequency in kHz: the dial stays as it was");
    return;
  }
  dial_->setStyleSheet({});
  emit dialChanged(khz);
}

void BandMapWindow::RowActivated(QTreeWidgetItem* item) {
  if (item != nullptr) emit tuneRequested(item->data(kColCall, kAudioHzRole).toDouble());
}

void BandMapWindow::Show(const bandmap::Snapshot& s) {
  view_->AddRows(s.rows, s.columns, s.loHz, s.hiHz);
  view_->SetStations(s.stations, s.now, s.dialHz, s.lowerSideband);
  FillList(s);
  const double cost = s.streamS > 0.0 ? 100.0 * s.cpuS / s.streamS : 0.0;
  QString text = QString("%1 stations, %2 signals, %3 spots; skimming takes %4 % of a core")
                     .arg(s.stations.size())
                     .arg(s.liveSignals)
                     .arg(s.spots)
                     .arg(QLocale::c().toString(cost, 'f', 1));
  if (s.dropped > 0) text += QString("; %1 blocks dropped").arg(s.dropped);
  if (!s.status.empty()) text += "; " + QString::fromStdString(s.status);
  status_->setText(text);
}

void BandMapWindow::FillList(const bandmap::Snapshot& s) {
  // Rows are kept and updated in place, so the selection and the scroll position stay.
  std::vector<bandmap::StationRow> rows = s.stations;
  if (s.lowerSideband && !std::isnan(s.dialHz)) std::reverse(rows.begin(), rows.end());
  const QString current = list_->currentItem() ? list_->currentItem()->text(kColCall) : QString();
  while (list_->topLevelItemCount() > static_cast<int>(rows.size())) {
    delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  }
  while (list_->topLevelItemCount() < static_cast<int>(rows.size())) {
    auto* item = new QTreeWidgetItem(list_);
    for (int c : {kColDb, kColWpm}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(kColFrequency, Qt::AlignRight | Qt::AlignVCenter);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const bandmap::StationRow& r = rows[i];
    QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
    item->setText(kColCall, QString::fromStdString(r.call));
    item->setData(kColCall, kAudioHzRole, r.audioHz);
    item->setText(kColFrequency, QString::fromStdString(
                                     bandmap::FrequencyText(r.audioHz, s.dialHz, s.lowerSideband)));
    item->setText(kColDb, QString::number(std::lround(r.snrDb)));
    item->setText(kColWpm, r.wpm > 0.0 ? QString::number(std::lround(r.wpm)) : QString());
    item->setText(kColCq, r.cq ? "CQ" : "");
    item->setText(kColLastHeard, QString::fromStdString(bandmap::UtcClockText(r.lastHeard)));
    item->setForeground(kColCall, r.cq ? BandMapView::CqColour().darker(130)
                                       : BandMapView::OtherColour().darker(170));
    if (item->text(kColCall) == current && list_->currentItem() != item) {
      list_->setCurrentItem(item);
    }
  }
}

void BandMapWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  emit closed();
}

}  // namespace kestrix::shell
