#include "settings/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "settings/admin_client.h"

namespace hv::settings {

namespace {

QSpinBox* numberBox(int min, int max, const QString& suffix) {
    auto* box = new QSpinBox;
    box->setRange(min, max);
    box->setSuffix(suffix);
    return box;
}

}  // namespace

SettingsPage::SettingsPage(AdminClient* c, QWidget* parent)
    : QWidget(parent),
      client(c),
      status(new QLabel(this)),
      saveButton(new QPushButton(tr("Save"), this)),
      discardButton(new QPushButton(tr("Discard"), this)) {
    auto* outer = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);

    auto* monitoring = new QGroupBox(tr("Monitoring"), content);
    new QFormLayout(monitoring);
    addField(QStringLiteral("status"), new QCheckBox(tr("Count and limit computer time")), QString(), monitoring);
    addField(QStringLiteral("warntime"), numberBox(0, 1440, tr(" min")), tr("Warn before the time runs out"), monitoring);
    addField(QStringLiteral("keeplimit"), new QCheckBox(tr("The daily allowance applies also to accounts with time ranges")),
             QString(), monitoring);
    addField(QStringLiteral("netmon"), new QCheckBox(tr("Enforce the network times")), QString(), monitoring);
    auto* method = new QComboBox;
    method->addItem(tr("Block the account's own traffic (firewall)"), QStringLiteral("firewall"));
    method->addItem(tr("Switch off every network interface of the machine"), QStringLiteral("interface"));
    addField(QStringLiteral("netmethod"), method, tr("Network off by"), monitoring);
    addField(QStringLiteral("appmon"), new QCheckBox(tr("Enforce the application minutes")), QString(), monitoring);
    addField(QStringLiteral("diskmon"), new QCheckBox(tr("Enforce the disk quotas")), QString(), monitoring);
    addField(QStringLiteral("diskmontime"), numberBox(15, 100000, tr(" min")), tr("Check the disks every"), monitoring);
    addField(QStringLiteral("tracksleep"), new QCheckBox(tr("Time the computer sleeps counts as use")), QString(), monitoring);
    layout->addWidget(monitoring);

    auto* tray = new QGroupBox(tr("Tray icon and notices"), content);
    new QFormLayout(tray);
    addField(QStringLiteral("showremain"), new QCheckBox(tr("Show the time left in the tray")), QString(), tray);
    addField(QStringLiteral("hideremain"), new QCheckBox(tr("Hide the tray icon on days without a limit")), QString(), tray);
    addField(QStringLiteral("warnonce"), new QCheckBox(tr("Warn about an application only once")), QString(), tray);
    addField(QStringLiteral("notimeout"), new QCheckBox(tr("Warnings stay on screen until dismissed")), QString(), tray);
    layout->addWidget(tray);

    auto* texts = new QGroupBox(tr("Notice texts"), content);
    auto* textForm = new QFormLayout(texts);
    auto* placeholders = new QLabel(
        tr("Placeholders: %u the account, %m minutes left, %w warning minutes, %a the application, "
           "%l the application's minutes left, %sr and %er start and end of the time range; "
           "%g the minutes given (only in the extra-time notice)."),
        texts);
    placeholders->setWordWrap(true);
    textForm->addRow(placeholders);
    addField(QStringLiteral("warnmsg"), new QLineEdit, tr("Warning"), texts);
    addField(QStringLiteral("logoutmsg"), new QLineEdit, tr("Time is up"), texts);
    addField(QStringLiteral("rangemsg"), new QLineEdit, tr("Outside the time range"), texts);
    addField(QStringLiteral("appmsg"), new QLineEdit, tr("Application time is up"), texts);
    addField(QStringLiteral("diskmsg"), new QLineEdit, tr("Disk quota exceeded"), texts);
    addField(QStringLiteral("grantmsg"), new QLineEdit, tr("Extra time"), texts);
    layout->addWidget(texts);
    layout->addStretch();
    scroll->setWidget(content);
    outer->addWidget(scroll);

    status->setWordWrap(true);
    status->setStyleSheet(QStringLiteral("color: #b00020"));
    outer->addWidget(status);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(discardButton);
    buttons->addWidget(saveButton);
    outer->addLayout(buttons);
    connect(saveButton, &QPushButton::clicked, this, &SettingsPage::save);
    connect(discardButton, &QPushButton::clicked, this, &SettingsPage::discard);
    changed();
}

void SettingsPage::addField(const QString& key, QWidget* widget, const QString& label, QWidget* group) {
    auto* form = static_cast<QFormLayout*>(group->layout());
    auto* error = new QLabel(group);
    error->setStyleSheet(QStringLiteral("color: #b00020"));
    error->setWordWrap(true);
    error->hide();
    auto* cell = new QWidget(group);
    auto* column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(widget);
    column->addWidget(error);
    if (label.isEmpty()) {
        form->addRow(cell);
    } else {
        form->addRow(label, cell);
    }
    fields.insert(key, Field{widget, error});
    if (auto* box = qobject_cast<QCheckBox*>(widget)) connect(box, &QCheckBox::toggled, this, &SettingsPage::changed);
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) connect(spin, &QSpinBox::valueChanged, this, &SettingsPage::changed);
    if (auto* line = qobject_cast<QLineEdit*>(widget)) connect(line, &QLineEdit::textChanged, this, &SettingsPage::changed);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, &QComboBox::currentIndexChanged, this, &SettingsPage::changed);
    }
}

QWidget* SettingsPage::field(const QString& key) const {
    return fields.value(key).widget;
}

QString SettingsPage::valueOf(const QString& key) const {
    QWidget* widget = field(key);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) return QString::number(spin->value());
    if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->text();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentData().toString();
    return {};
}

void SettingsPage::setValue(const QString& key, const QString& value) {
    QWidget* widget = field(key);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) box->setChecked(value.toLongLong() != 0);
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) spin->setValue(value.toInt());
    if (auto* line = qobject_cast<QLineEdit*>(widget)) line->setText(value);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) combo->setCurrentIndex(std::max(0, combo->findData(value)));
}

void SettingsPage::load() {
    client->call(
        QStringLiteral("GetSettings"), {}, this,
        [this](const QVariantList& reply) {
            const QJsonObject settings = QJsonDocument::fromJson(reply.value(0).toString().toUtf8()).object();
            loaded.clear();
            for (auto it = fields.begin(); it != fields.end(); ++it) {
                const QJsonValue value = settings.value(it.key());
                if (value.isDouble()) {
                    loaded.insert(it.key(), QString::number(value.toInteger()));
                } else if (value.isString()) {
                    loaded.insert(it.key(), value.toString());
                }
            }
            status->clear();
            showValues();
        },
        [this](const QString& message) { showError(message); });
}

void SettingsPage::showValues() {
    loading = true;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        // A key the file lacks shows the field's first value; it is sent only when changed.
        if (!loaded.contains(it.key())) {
            setValue(it.key(), QString());
            loaded.insert(it.key(), valueOf(it.key()));
        }
        setValue(it.key(), loaded.value(it.key()));
        it->error->hide();
    }
    loading = false;
    changed();
}

bool SettingsPage::isDirty() const {
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (valueOf(it.key()) != loaded.value(it.key())) return true;
    }
    return false;
}

void SettingsPage::changed() {
    if (loading) return;
    const bool dirty = isDirty();
    saveButton->setEnabled(dirty);
    discardButton->setEnabled(dirty);
    emit dirtyChanged(dirty);
}

void SettingsPage::save() {
    QMap<QString, QString> changes;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const QString value = valueOf(it.key());
        if (value != loaded.value(it.key())) changes.insert(it.key(), value);
    }
    for (const Field& f : fields) f.error->hide();
    status->setText(tr("Saving…"));
    client->call(
        QStringLiteral("SetSettings"), {QVariant::fromValue(changes)}, this, [this](const QVariantList&) { load(); },
        [this](const QString& message) { showError(message); });
}

void SettingsPage::discard() {
    status->clear();
    showValues();
}

void SettingsPage::showError(const QString& message) {
    status->setText(message);
    // The service's line names the key it refuses; the field of that key shows it too.
    static const QRegularExpression word(QStringLiteral("[a-z]+"));
    for (auto match = word.globalMatch(message); match.hasNext();) {
        const auto it = fields.find(match.next().captured());
        if (it != fields.end()) {
            it->error->setText(message);
            it->error->show();
            return;
        }
    }
}

}  // namespace hv::settings
