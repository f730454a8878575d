// SPDX-License-Identifier: MIT
// StationTile: one fixture of the station window, readable from across a room. Its state shows
// twice, as a fill colour and as a word (for operators who cannot tell the colours apart):
//   grey "NO PROBE", pale "WAITING", blue "PROGRAMMING" with a percentage bar, green "OK",
//   red "FAILED" with the failure text, amber "STOPPING".
// Besides the state: the probe's location, the fixture's board count and the last board's time.
//
// Threads: GUI thread only. Setters repaint only when what is drawn changes. Nothing fails.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

#include "jobs/station.h"

namespace zolt::ui {

struct TileLook {
  QString word;    // "NO PROBE", "WAITING", "PROGRAMMING", "OK", "FAILED", "STOPPING"
  QColor fill;     // the tile's background
  QColor text;     // every text of the tile: at least 4.5:1 on `fill`
  QColor barDone;  // the percentage bar's filled part and its track: at least 3:1 apart
  QColor barTrack;
};

// The look of `state` under `palette` (light or dark window colours).
TileLook LookOf(FixtureState state, const QPalette& palette);

class StationTile : public QWidget {
  Q_OBJECT
 public:
  explicit StationTile(int device, QWidget* parent = nullptr);

  // A new board (another sequence number) clears the previous board's message.
  void SetStatus(const FixtureStatus& status);
  // The programming board's percentage, 0..100.
  void SetPercent(int percent);
  // A box the board's job would have shown: the tile's text until the next board.
  void SetMessage(const QString& text);

  const FixtureStatus& Status() const { return status_; }
  int Percent() const { return percent_; }
  TileLook Look() const { return LookOf(status_.state, palette()); }
  QString Word() const { return Look().word; }
  // "#3  usb:1-2.4"
  QString LocationText() const;
  // "12 boards"
  QString BoardsText() const;
  // "last 14.2 s", or "" before the first board ended.
  QString LastTimeText() const;
  // Below the word: the failure text (FAILED), "remove board" (OK), the message of a running
  // board, else "".
  QString DetailText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  FixtureStatus status_;
  int percent_ = 0;
  QString message_;
};

}  // namespace zolt::ui
