#pragma once

// drag: a parent painting hours on a WeekGrid with the mouse, for the window's tests.

#include <QTest>

#include "settings/week_grid.h"

namespace hv::settings::test {

// Presses on cell `fromCell` of day `fromDay`, moves to cell `toCell` of day `toDay` and releases
// there: one stroke over the rectangle between the two cells.
inline void drag(WeekGrid* grid, int fromDay, int fromCell, int toDay, int toCell) {
    QTest::mousePress(grid, Qt::LeftButton, {}, grid->cellRect(fromDay, fromCell).center());
    QTest::mouseMove(grid, grid->cellRect(toDay, toCell).center());
    QTest::mouseRelease(grid, Qt::LeftButton, {}, grid->cellRect(toDay, toCell).center());
}

}  // namespace hv::settings::test
