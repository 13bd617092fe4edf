#pragma once

// WeekGrid: a week of seven days by 48 half-hour cells, painted by dragging. A press on a cell
// starts a stroke that switches on (or, pressed on a cell wholly on, off) every cell of the
// rectangle between the pressed cell and the one under the pointer; on release the days the stroke
// covered are reported. The grid keeps the ranges minute-exact: a cell only partly inside a range
// is drawn lighter, and a stroke changes only the minutes of the cells it covers, so a range edge
// at 07:10 stays at 07:10 unless its own cell is painted.

#include <QWidget>

#include <array>
#include <bitset>

#include "settings/policy_model.h"

namespace hv::settings {

inline constexpr int kCells = 48;
inline constexpr int kDayMinutes = 24 * 60;
using DayMinutes = std::bitset<kDayMinutes>;
using WeekMinutes = std::array<DayMinutes, kDays>;

// How ranges become minutes on the grid and back: a range covers the minutes from its start up to
// its end (a range ending "23:59", the last minute the policy can name, runs to midnight), at least
// its start minute. Each run of minutes becomes one range, earliest first.
WeekMinutes minutesOf(const DayRanges& ranges);
QList<Range> rangesOf(const DayMinutes& minutes);

class WeekGrid : public QWidget {
    Q_OBJECT

public:
    explicit WeekGrid(QWidget* parent = nullptr);

    // Shows `ranges`; the stroke in progress, if any, is dropped.
    void setRanges(const DayRanges& ranges);

    // Where the cell of `day` starting at half hour `cell` is drawn, for pointing at it.
    QRect cellRect(int day, int cell) const;

    QSize sizeHint() const override;

signals:
    // A stroke ended: each day in [firstDay, lastDay] now holds exactly rangesOf(minutes[day]).
    void painted(int firstDay, int lastDay, const hv::settings::WeekMinutes& minutes);

protected:
    // A tooltip over a day names its ranges to the minute.
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The cell under `point`, clamped into the grid; false outside it when `clamp` is false.
    bool cellAt(QPoint point, bool clamp, int* day, int* cell) const;
    void applyStroke(int day, int cell);

    // How many of a cell's 30 minutes are on.
    int minutesOn(int day, int cell) const;

    WeekMinutes minutes;
    WeekMinutes beforeStroke;
    bool stroking = false;
    bool strokeOn = true;
    int anchorDay = 0;
    int anchorCell = 0;
    int strokeFirst = 0;
    int strokeLast = 0;
};

}  // namespace hv::settings
