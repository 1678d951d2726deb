#include "weblink.h"

#include "errortraps.h"
#include "messagebox.h"

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
    const QUrl page = aboutPageUrl();
    if (QDesktopServices::openUrl(page))
        return;
    // Nothing on this desktop opens web pages (no xdg-open, no browser): the click would
    // otherwise do nothing at all.
    const QString text = QStringLiteral("No web browser could open ") + page.toDisplayString();
    platform::logError(QStringLiteral("web link"), text);
    platform::showMessage(text, QString(), platform::MessageIcon::Warning);
}

} // namespace shell
