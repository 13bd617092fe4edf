#pragma once

// SettingsPage: the system-wide settings (GetSettings / SetSettings): monitoring, the warning time,
// the notice texts and the switches. Only changed keys are sent, all in one SetSettings, which the
// service accepts or refuses whole; its one-line refusal is shown on the page and beside the field
// whose key it names. The page's own limits (ranges of the number fields) only help; the service
// decides.

#include <QMap>
#include <QWidget>

class QLabel;
class QPushButton;

namespace hv::settings {

class AdminClient;

class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(AdminClient* client, QWidget* parent = nullptr);

    // Fetches the settings and shows them; unsaved changes are dropped.
    void load();
    bool isDirty() const;
    // The field of `key` (a QCheckBox, QSpinBox, QLineEdit or QComboBox), or nullptr.
    QWidget* field(const QString& key) const;
    QLabel* message() const { return status; }

    void save();
    void discard();

signals:
    void dirtyChanged(bool dirty);

private:
    struct Field {
        QWidget* widget = nullptr;
        QLabel* error = nullptr;
    };

    void addField(const QString& key, QWidget* widget, const QString& label, QWidget* form);
    QString valueOf(const QString& key) const;
    void setValue(const QString& key, const QString& value);
    void showValues();
    void changed();
    void showError(const QString& message);

    AdminClient* client;
    QMap<QString, Field> fields;
    QMap<QString, QString> loaded;
    QLabel* status;
    QPushButton* saveButton;
    QPushButton* discardButton;
    bool loading = false;
};

}  // namespace hv::settings
