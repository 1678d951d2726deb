#include "weblink.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>

namespace shell {

QUrl aboutPageUrl() {
    const QString configured = QStringLiteral(KIRROW_ABOUT_URL);
    if (!configured.isEmpty())
        return QUrl(configured);
    return QUrl::fromLocalFile(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("about.html")));
}

void openWebLink() {
    QDesktopServices::openUrl(aboutPageUrl());
}

} // namespace shell
