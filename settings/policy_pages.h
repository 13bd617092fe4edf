#pragma once

// The pages that edit an account's Policy: Allowance, Hours, Applications and Disk. Each shows the
// policy handed to setPolicy() and writes every change straight into it, then emits edited(). The
// policy must outlive the page's use of it (the account view owns it and calls setPolicy() again
// whenever it replaces it).

#include <QWidget>

#include <array>

#include "settings/policy_model.h"
#include "settings/week_grid.h"

class QCheckBox;
class QLabel;
class QSpinBox;
class QTableWidget;

namespace hv::settings {

class PolicyPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    virtual void setPolicy(Policy* policy) = 0;

signals:
    void edited();
};

// Minutes per weekday, with "Same every day" to give one value to all seven.
class AllowancePage : public PolicyPage {
    Q_OBJECT

public:
    explicit AllowancePage(QWidget* parent = nullptr);
    void setPolicy(Policy* policy) override;

    QCheckBox* sameSwitch() const { return same; }
    QSpinBox* dayBox(int day) const { return boxes[day]; }

private:
    void dayChanged(int day, int minutes);

    Policy* policy = nullptr;
    QCheckBox* same;
    std::array<QSpinBox*, kDays> boxes{};
    bool loading = false;
};

// The computer's and the network's times of day, one painted grid each.
class HoursPage : public PolicyPage {
    Q_OBJECT

public:
    explicit HoursPage(QWidget* parent = nullptr);
    void setPolicy(Policy* policy) override;

    WeekGrid* timeGrid() const { return computer; }
    WeekGrid* networkGrid() const { return net; }

private:
    Policy* policy = nullptr;
    WeekGrid* computer;
    WeekGrid* net;
};

// Applications by process name, with minutes per day; the picker adds the desktop's installed ones.
class AppsPage : public PolicyPage {
    Q_OBJECT

public:
    explicit AppsPage(QWidget* parent = nullptr);
    void setPolicy(Policy* policy) override;

    QTableWidget* table() const { return list; }
    // Adds `name` with 30 minutes every day, unless it is listed already.
    void addApp(const QString& name);

private:
    void load();
    void cellEdited(int row, int column);
    void pick();

    Policy* policy = nullptr;
    QTableWidget* list;
    bool loading = false;
};

// The disk quota of the home folder.
class DiskPage : public PolicyPage {
    Q_OBJECT

public:
    explicit DiskPage(QWidget* parent = nullptr);
    void setPolicy(Policy* policy) override;

private:
    void changed();

    Policy* policy = nullptr;
    QCheckBox* limited;
    QSpinBox* megabytes;
    QLabel* script;
    bool loading = false;
};

}  // namespace hv::settings
