#include "settings/history_page.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QMap>
#include <QStackedBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

#include "settings/admin_client.h"

namespace hv::settings {

HistoryPage::HistoryPage(AdminClient* c, QWidget* parent)
    : QWidget(parent), client(c), days(new QComboBox(this)), problem(new QLabel(this)), plot(new QChart) {
    auto* layout = new QVBoxLayout(this);
    days->addItem(tr("Last 14 days"), 14);
    days->addItem(tr("Last 30 days"), 30);
    layout->addWidget(days, 0, Qt::AlignLeft);
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00020"));
    problem->hide();
    layout->addWidget(problem);
    auto* chartView = new QChartView(plot, this);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumHeight(320);
    layout->addWidget(chartView);
    connect(days, &QComboBox::currentIndexChanged, this, &HistoryPage::load);
}

void HistoryPage::setUser(const QString& u) {
    user = u;
    load();
}

void HistoryPage::load() {
    if (user.isEmpty()) return;
    client->call(
        QStringLiteral("History"), {user, QVariant::fromValue(days->currentData().toUInt())}, this,
        [this](const QVariantList& reply) {
            problem->clear();
            problem->hide();
            draw(reply.value(0).toString().toUtf8());
        },
        [this](const QString& message) {
            problem->setText(message);
            problem->show();
            draw({});
        });
}

void HistoryPage::draw(const QByteArray& json) {
    plot->removeAllSeries();
    for (QAbstractAxis* axis : plot->axes()) {
        plot->removeAxis(axis);
        delete axis;
    }
    const QJsonArray list = QJsonDocument::fromJson(json).object().value(QLatin1String("days")).toArray();
    const qsizetype n = list.size();

    // Every application seen in the period gets one set, with a value for every day.
    QMap<QString, QList<qreal>> perApp;
    QList<qreal> rest(n, 0);
    QStringList dates;
    auto* allowance = new QLineSeries;
    allowance->setName(tr("Allowance"));
    int top = 60;
    for (qsizetype i = 0; i < n; ++i) {
        const QJsonObject day = list[i].toObject();
        const QJsonObject apps = day.value(QLatin1String("apps")).toObject();
        int appMinutes = 0;
        for (auto it = apps.begin(); it != apps.end(); ++it) {
            QString name = it.key();
            if (name.endsWith(QLatin1String(".app"))) name.chop(4);
            auto& values = perApp[name];
            values.resize(n, 0);
            values[i] += it.value().toInt();
            appMinutes += it.value().toInt();
        }
        const int used = day.value(QLatin1String("used")).toInt();
        rest[i] = std::max(0, used - appMinutes);
        const int allowed = day.value(QLatin1String("allowance")).toInt();
        if (allowed > 0) allowance->append(static_cast<qreal>(i), allowed);
        top = std::max({top, used, appMinutes, allowed});
        const QDate date = QDate::fromString(day.value(QLatin1String("date")).toString(), Qt::ISODate);
        dates.append(QLocale().toString(date, QStringLiteral("d.M")));
    }

    auto* bars = new QStackedBarSeries;
    for (auto it = perApp.begin(); it != perApp.end(); ++it) {
        auto* set = new QBarSet(it.key());
        set->append(it.value());
        bars->append(set);
    }
    auto* other = new QBarSet(perApp.isEmpty() ? tr("Computer use") : tr("Other use"));
    other->append(rest);
    bars->append(other);
    plot->addSeries(bars);
    plot->addSeries(allowance);

    auto* x = new QBarCategoryAxis;
    x->append(dates);
    x->setLabelsAngle(-45);
    x->setTruncateLabels(false);  // a cut date ("24...") says nothing
    auto* y = new QValueAxis;
    y->setRange(0, top + 10);
    y->applyNiceNumbers();  // ticks at round minutes
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTitleText(tr("minutes"));
    plot->addAxis(x, Qt::AlignBottom);
    plot->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* series : plot->series()) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
    plot->legend()->setAlignment(Qt::AlignBottom);
}

}  // namespace hv::settings
