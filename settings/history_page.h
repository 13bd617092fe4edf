#pragma once

// HistoryPage: one account's last 14 or 30 days (History) as a bar chart: a bar per day, stacked by
// application with the rest of the day's use on top, and the day's allowance as a line. A history
// the service cannot give is said on the page itself: the account's message line below the pages
// belongs to what the parent did (a save, a grant), which a history fetched afterwards must not hide.

#include <QWidget>

class QChart;
class QComboBox;
class QLabel;

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
    // Why the chart is empty, when the service refused or failed the history; empty otherwise.
    QLabel* message() const { return problem; }

    // Draws the History JSON `json`; an answer without days leaves an empty chart.
    void draw(const QByteArray& json);

private:
    void load();

    AdminClient* client;
    QString user;
    QComboBox* days;
    QLabel* problem;
    QChart* plot;
};

}  // namespace hv::settings
