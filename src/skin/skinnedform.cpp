#include "skinnedform.h"

#include <QDialog>

void setUpSkinnedDialog(QDialog *dialog, const QString &name, const QString &caption,
                        int widthTwips, int heightTwips) {
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    dialog->setWindowFlag(Qt::FramelessWindowHint);
    dialog->setFixedSize(platform::twipsToPixelsX(widthTwips),
                         platform::twipsToPixelsY(heightTwips));
}

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void fillBackground(QWidget *widget, const QColor &colour) {
    widget->setAutoFillBackground(true);
    setColour(widget, QPalette::Window, colour);
}
