// The Band Map window: the waterfall with its call labels (BandMapView), the list of
// stations heard (call, frequency, dB, WPM, CQ, last heard; sorted by frequency) and the
// band map's options (the dial typed in, the rigctld address), with a status line of what
// the skimmer is doing and what it costs.
//
// Not modal, resizable. It shows the snapshots it is given and asks for tuning with
// tuneRequested(); it holds no engine and no rules (BandMapLink does). GUI thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>
#include <optional>
#include <string>

#include "bandmap/band_map_engine.h"
#include "shell/band_map_view.h"

namespace kestrix::shell {

inline constexpr const char* kBandMapTitle = "Band Map";

// The station list's columns.
enum BandMapColumn { kColCall, kColFrequency, kColDb, kColWpm, kColCq, kColLastHeard };

class BandMapWindow : public QWidget {
  Q_OBJECT

 public:
  explicit BandMapWindow(QWidget* parent = nullptr);

  // Shows the engine's latest results.
  void Show(const bandmap::Snapshot& snapshot);
  // The options as the file or the command line give them.
  void SetOptions(const std::string& rigctld, std::optional<double> dialKhz);

  BandMapView* View() const { return view_; }
  QTreeWidget* List() const { return list_; }
  QSplitter* Split() const { return split_; }
  QLineEdit* DialEdit() const { return dial_; }
  QLineEdit* RigctldEdit() const { return rigctld_; }
  QLabel* StatusLine() const { return status_; }

 signals:
  void tuneRequested(double audioHz);
  // The typed dial changed (nullopt: cleared) / the rigctld address was edited.
  void dialChanged(std::optional<double> khz);
  void rigctldChanged(const QString& address);
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FillList(const bandmap::Snapshot& s);
  void DialEdited();
  void RowActivated(QTreeWidgetItem* item);

  BandMapView* view_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QSplitter* split_ = nullptr;
  QLineEdit* dial_ = nullptr;
  QLineEdit* rigctld_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace kestrix::shell
