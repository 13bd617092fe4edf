#pragma once

// HistoryPage: one account's last 14 or 30 days (History) as a bar chart: a bar per day, stacked by
// application with the rest of the day's use on top, and the day's allowance as a line.

#include <QWidget>

class QChart;
class QComboBox;

namespace hv::settings {

class AdminClient;

class HistoryPage : public QWidget {
    Q_OBJECT

public:
    HistoryPage(AdminClient* client, QWidget* parent = nullptr);

    // Asks for `user`'s history over the chosen number of days and draws it when it comes.
    void setUser(const QString& user);

    QChart* chart() const { return plot; }
    QComboBox* daysChoice() const { return days; }

    // Draws the History JSON `json`; an answer without days leaves an empty chart.
    void draw(const QByteArray& json);

signals:
    void failed(const QString& message);

private:
    void load();

    AdminClient* client;
    QString user;
    QComboBox* days;
    QChart* plot;
};

}  // namespace hv::settings
