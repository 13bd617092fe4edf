#pragma once

// The five pictures of the tray item, drawn from the SVG sources compiled into the program.

#include <QIcon>
#include <QString>

namespace hv::menu {

// Names of the pictures, as the resources carry them.
inline const QString kUserGG = QStringLiteral("usergg");      // not warned, network on
inline const QString kUserGR = QStringLiteral("usergr");      // not warned, network off
inline const QString kUserOG = QStringLiteral("userog");      // warned, network on
inline const QString kUserOR = QStringLiteral("useror");      // warned, network off
inline const QString kUserSync = QStringLiteral("usersync");  // no values read yet

// The icon of one picture, rendered at the sizes trays ask for (16 to 64 pixels). A name
// without a resource gives a null icon. Needs a QGuiApplication.
QIcon loadStatusImage(const QString& name);

}  // namespace hv::menu
