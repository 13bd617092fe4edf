#pragma once

// The translation of horavel-settings into the user's language (QLocale::system()), from beside
// the program (a build tree) or from the installed translations directory, and Qt's own for its
// standard buttons. Without one the texts stay English.

#include <QCoreApplication>

namespace hv::settings {

// Installs the translators found into `app`, which owns them.
void loadTranslations(QCoreApplication* app);

}  // namespace hv::settings
