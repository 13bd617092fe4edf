#include "settings/translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace hv::settings {

void loadTranslations(QCoreApplication* app) {
    const QLocale locale = QLocale::system();
    auto* own = new QTranslator(app);
    if (own->load(locale, QStringLiteral("horavel-settings"), QStringLiteral("_"), QCoreApplication::applicationDirPath()) ||
        own->load(locale, QStringLiteral("horavel-settings"), QStringLiteral("_"), QStringLiteral(HORAVEL_TRANSLATIONS_DIR))) {
        QCoreApplication::installTranslator(own);
    }
    auto* qt = new QTranslator(app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    }
}

}  // namespace hv::settings
