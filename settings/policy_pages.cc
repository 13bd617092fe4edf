#include "settings/policy_pages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "settings/desktop_apps.h"

namespace hv::settings {

namespace {

QString dayName(int day) {
    return QLocale().dayName(day + 1, QLocale::LongFormat);
}

QSpinBox* minutesBox(QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(0, 1440);
    box->setSingleStep(15);
    box->setSuffix(QCoreApplication::translate("hv::settings::AllowancePage", " min"));
    box->setSpecialValueText(QCoreApplication::translate("hv::settings::AllowancePage", "no limit"));
    return box;
}

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

AllowancePage::AllowancePage(QWidget* parent) : PolicyPage(parent), same(new QCheckBox(tr("Same every day"), this)) {
    auto* form = new QFormLayout(this);
    form->addRow(note(tr("Minutes of computer use allowed per day. \"no limit\" leaves the day unlimited."), this));
    form->addRow(same);
    for (int d = 0; d < kDays; ++d) {
        boxes[d] = minutesBox(this);
        form->addRow(dayName(d), boxes[d]);
        connect(boxes[d], &QSpinBox::valueChanged, this, [this, d](int minutes) { dayChanged(d, minutes); });
    }
    connect(same, &QCheckBox::toggled, this, [this](bool on) {
        for (int d = 1; d < kDays; ++d) boxes[d]->setEnabled(!on);
        if (on && !loading) dayChanged(0, boxes[0]->value());
    });
}

void AllowancePage::setPolicy(Policy* p) {
    policy = p;
    loading = true;
    for (int d = 0; d < kDays; ++d) boxes[d]->setValue(policy->allowance[d]);
    const auto& a = policy->allowance;
    same->setChecked(std::all_of(a.begin(), a.end(), [&](int v) { return v == a[0]; }));
    loading = false;
}

void AllowancePage::dayChanged(int day, int minutes) {
    if (loading) return;
    if (same->isChecked()) {
        loading = true;
        for (int d = 0; d < kDays; ++d) boxes[d]->setValue(minutes);
        loading = false;
        policy->allowance.fill(minutes);
    } else {
        policy->allowance[day] = minutes;
    }
    emit edited();
}

HoursPage::HoursPage(QWidget* parent) : PolicyPage(parent), computer(new WeekGrid(this)), net(new WeekGrid(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note(tr("When the computer may be used. Drag across the half-hour cells to allow them; "
                              "start on an allowed cell to take them away. A lighter cell is allowed for part "
                              "of its half hour. While other days have times, a day without any is free, unless \"The daily "
                              "allowance applies also to accounts with time ranges\" is on in Settings: then it "
                              "allows no use at all."),
                           this));
    layout->addWidget(computer);
    layout->addWidget(note(tr("When the network is on (enforced while network monitoring is on in Settings). "
                              "A day without any time has the network all day."),
                           this));
    layout->addWidget(net);
    layout->addStretch();
    connect(computer, &WeekGrid::painted, this, [this](int first, int last, const WeekMinutes& minutes) {
        for (int d = first; d <= last; ++d) policy->ranges[d] = rangesOf(minutes[d]);
        emit edited();
    });
    connect(net, &WeekGrid::painted, this, [this](int first, int last, const WeekMinutes& minutes) {
        for (int d = first; d <= last; ++d) policy->network[d] = rangesOf(minutes[d]);
        emit edited();
    });
}

void HoursPage::setPolicy(Policy* p) {
    policy = p;
    computer->setRanges(policy->ranges);
    net->setRanges(policy->network);
}

AppsPage::AppsPage(QWidget* parent) : PolicyPage(parent), list(new QTableWidget(0, 1 + kDays, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note(tr("Minutes per day for single applications (0: not limited that day), enforced "
                              "while application monitoring is on in Settings. The name is the program's "
                              "name, as the process list shows it."),
                           this));
    QStringList headers{tr("Application")};
    for (int d = 0; d < kDays; ++d) headers.append(QLocale().dayName(d + 1, QLocale::ShortFormat));
    list->setHorizontalHeaderLabels(headers);
    list->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int d = 1; d <= kDays; ++d) list->horizontalHeader()->setSectionResizeMode(d, QHeaderView::ResizeToContents);
    layout->addWidget(list);
    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(tr("Add installed application…"), this);
    auto* addName = new QPushButton(tr("Add by name"), this);
    auto* remove = new QPushButton(tr("Remove"), this);
    buttons->addWidget(add);
    buttons->addWidget(addName);
    buttons->addWidget(remove);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &AppsPage::pick);
    connect(addName, &QPushButton::clicked, this, [this] {
        const QString name = QInputDialog::getText(this, tr("Add by name"), tr("Program name:")).trimmed();
        if (!name.isEmpty()) addApp(name);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = list->currentRow();
        if (row < 0 || row >= policy->apps.size()) return;
        policy->apps.removeAt(row);
        load();
        emit edited();
    });
    connect(list, &QTableWidget::cellChanged, this, &AppsPage::cellEdited);
}

void AppsPage::setPolicy(Policy* p) {
    policy = p;
    load();
}

void AppsPage::load() {
    loading = true;
    list->setRowCount(static_cast<int>(policy->apps.size()));
    for (int row = 0; row < policy->apps.size(); ++row) {
        const App& app = policy->apps[row];
        list->setItem(row, 0, new QTableWidgetItem(app.name));
        for (int d = 0; d < kDays; ++d) {
            auto* item = new QTableWidgetItem;
            item->setData(Qt::EditRole, app.minutes[d]);
            list->setItem(row, d + 1, item);
        }
    }
    loading = false;
}

void AppsPage::cellEdited(int row, int column) {
    if (loading || row >= policy->apps.size()) return;
    App& app = policy->apps[row];
    const QTableWidgetItem* item = list->item(row, column);
    if (column == 0) {
        app.name = item->text().trimmed();
    } else {
        app.minutes[column - 1] = std::clamp(item->data(Qt::EditRole).toInt(), 0, 1440);
    }
    emit edited();
}

void AppsPage::addApp(const QString& name) {
    for (const App& app : policy->apps) {
        if (app.name == name) return;
    }
    App app{name, {}};
    app.minutes.fill(30);
    policy->apps.append(app);
    load();
    emit edited();
}

void AppsPage::pick() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Installed applications"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* filter = new QLineEdit(&dialog);
    filter->setPlaceholderText(tr("Search"));
    auto* choices = new QListWidget(&dialog);
    for (const DesktopApp& app : installedApps(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(app.title, app.program), choices);
        item->setData(Qt::UserRole, app.program);
    }
    connect(filter, &QLineEdit::textChanged, choices, [choices](const QString& text) {
        for (int i = 0; i < choices->count(); ++i) {
            choices->item(i)->setHidden(!choices->item(i)->text().contains(text, Qt::CaseInsensitive));
        }
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(choices, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(filter);
    layout->addWidget(choices);
    layout->addWidget(buttons);
    if (dialog.exec() == QDialog::Accepted && choices->currentItem() != nullptr) {
        addApp(choices->currentItem()->data(Qt::UserRole).toString());
    }
}

DiskPage::DiskPage(QWidget* parent)
    : PolicyPage(parent),
      limited(new QCheckBox(tr("Limit the size of the home folder"), this)),
      megabytes(new QSpinBox(this)),
      script(new QLabel(this)) {
    auto* form = new QFormLayout(this);
    form->addRow(note(tr("Checked while disk monitoring is on in Settings."), this));
    form->addRow(limited);
    megabytes->setRange(1, 4095);
    megabytes->setSuffix(tr(" MB"));
    form->addRow(tr("Quota"), megabytes);
    script->setWordWrap(true);
    form->addRow(script);
    connect(limited, &QCheckBox::toggled, this, &DiskPage::changed);
    connect(megabytes, &QSpinBox::valueChanged, this, &DiskPage::changed);
}

void DiskPage::setPolicy(Policy* p) {
    policy = p;
    loading = true;
    limited->setChecked(policy->quotaMb.has_value());
    megabytes->setValue(policy->quotaMb.value_or(500));
    megabytes->setEnabled(policy->quotaMb.has_value());
    script->setText(policy->script().isEmpty()
                        ? tr("No command is run when the folder is over the quota.")
                        : tr("Run as root when the folder is over the quota: %1").arg(policy->script()));
    loading = false;
}

void DiskPage::changed() {
    megabytes->setEnabled(limited->isChecked());
    if (loading) return;
    policy->quotaMb = limited->isChecked() ? std::optional<int>(megabytes->value()) : std::nullopt;
    emit edited();
}

}  // namespace hv::settings
