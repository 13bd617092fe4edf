#include "settings/week_grid.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace hv::settings {

namespace {

constexpr int kLabelWidth = 44;
constexpr int kHeaderHeight = 20;
constexpr int kCellWidth = 14;
constexpr int kRowHeight = 26;
constexpr int kLastMinute = kDayMinutes - 1;

}  // namespace

WeekMinutes minutesOf(const DayRanges& ranges) {
    WeekMinutes out;
    for (int d = 0; d < kDays; ++d) {
        for (const Range& r : ranges[d]) {
            const int to = std::max(r.end >= kLastMinute ? kDayMinutes : r.end, r.start + 1);
            for (int m = std::max(r.start, 0); m < std::min(to, kDayMinutes); ++m) out[d].set(m);
        }
    }
    return out;
}

QList<Range> rangesOf(const DayMinutes& minutes) {
    QList<Range> out;
    for (int m = 0; m < kDayMinutes;) {
        if (!minutes.test(m)) {
            ++m;
            continue;
        }
        int end = m;
        while (end < kDayMinutes && minutes.test(end)) ++end;
        out.append(Range{m, std::min(end, kLastMinute)});
        m = end;
    }
    return out;
}

WeekGrid::WeekGrid(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void WeekGrid::setRanges(const DayRanges& ranges) {
    minutes = minutesOf(ranges);
    stroking = false;
    update();
}

int WeekGrid::minutesOn(int day, int cell) const {
    int n = 0;
    for (int m = cell * 30; m < cell * 30 + 30; ++m) n += minutes[day].test(m) ? 1 : 0;
    return n;
}

QRect WeekGrid::cellRect(int day, int cell) const {
    return {kLabelWidth + cell * kCellWidth, kHeaderHeight + day * kRowHeight, kCellWidth, kRowHeight};
}

QSize WeekGrid::sizeHint() const {
    return {kLabelWidth + kCells * kCellWidth + 1, kHeaderHeight + kDays * kRowHeight + 1};
}

bool WeekGrid::cellAt(QPoint point, bool clamp, int* day, int* cell) const {
    const int c = (point.x() - kLabelWidth) / kCellWidth - (point.x() < kLabelWidth ? 1 : 0);
    const int d = (point.y() - kHeaderHeight) / kRowHeight - (point.y() < kHeaderHeight ? 1 : 0);
    if (!clamp && (c < 0 || c >= kCells || d < 0 || d >= kDays)) return false;
    *cell = std::clamp(c, 0, kCells - 1);
    *day = std::clamp(d, 0, kDays - 1);
    return true;
}

void WeekGrid::mousePressEvent(QMouseEvent* event) {
    int day = 0;
    int cell = 0;
    if (event->button() != Qt::LeftButton || !cellAt(event->position().toPoint(), false, &day, &cell)) return;
    stroking = true;
    strokeOn = minutesOn(day, cell) < 30;
    anchorDay = day;
    anchorCell = cell;
    beforeStroke = minutes;
    applyStroke(day, cell);
}

void WeekGrid::mouseMoveEvent(QMouseEvent* event) {
    int day = 0;
    int cell = 0;
    if (!stroking) return;
    cellAt(event->position().toPoint(), true, &day, &cell);
    applyStroke(day, cell);
}

void WeekGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (!stroking || event->button() != Qt::LeftButton) return;
    int day = 0;
    int cell = 0;
    cellAt(event->position().toPoint(), true, &day, &cell);
    applyStroke(day, cell);
    stroking = false;
    emit painted(strokeFirst, strokeLast, minutes);
}

void WeekGrid::applyStroke(int day, int cell) {
    minutes = beforeStroke;
    strokeFirst = std::min(anchorDay, day);
    strokeLast = std::max(anchorDay, day);
    const int from = std::min(anchorCell, cell);
    const int to = std::max(anchorCell, cell);
    for (int d = strokeFirst; d <= strokeLast; ++d) {
        for (int m = from * 30; m < to * 30 + 30; ++m) minutes[d].set(m, strokeOn);
    }
    update();
}

bool WeekGrid::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    int day = 0;
    int cell = 0;
    const auto* help = static_cast<QHelpEvent*>(event);
    if (!cellAt(help->pos(), false, &day, &cell)) {
        QToolTip::hideText();
        return true;
    }
    QStringList texts;
    for (const Range& r : rangesOf(minutes[day])) texts.append(minuteText(r.start) + QStringLiteral("–") + minuteText(r.end));
    QToolTip::showText(help->globalPos(), QStringLiteral("%1: %2").arg(QLocale().dayName(day + 1),
                                                                      texts.isEmpty() ? tr("none") : texts.join(QStringLiteral(", "))),
                       this);
    return true;
}

void WeekGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.base());
    const QColor on = pal.color(QPalette::Highlight);
    QColor partly = on;
    partly.setAlpha(90);
    const QLocale locale;
    for (int h = 0; h < 24; h += 3) {
        p.setPen(pal.color(QPalette::Text));
        p.drawText(QRect(kLabelWidth + h * 2 * kCellWidth, 0, 6 * kCellWidth, kHeaderHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')));
    }
    for (int d = 0; d < kDays; ++d) {
        // Monday is the first of the pages' days; Qt counts Monday as 1.
        p.setPen(pal.color(QPalette::Text));
        p.drawText(QRect(0, kHeaderHeight + d * kRowHeight, kLabelWidth - 4, kRowHeight), Qt::AlignRight | Qt::AlignVCenter,
                   locale.dayName(d + 1, QLocale::ShortFormat));
        for (int c = 0; c < kCells; ++c) {
            const QRect r = cellRect(d, c);
            const int n = minutesOn(d, c);
            if (n == 30) {
                p.fillRect(r, on);
            } else if (n > 0) {
                p.fillRect(r, partly);
            }
            p.setPen(c % 2 == 0 ? pal.color(QPalette::Mid) : pal.color(QPalette::Midlight));
            p.drawRect(r);
        }
    }
}

}  // namespace hv::settings
