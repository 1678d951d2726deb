#pragma once

#include "twips.h"

#include <QColor>
#include <QPalette>

class QDialog;
class QWidget;

// What the skinned dialogs (login, phone book, recent calls) have in common.

// A frameless dialog of the given client size: its outline is its skin's, and a window manager's
// frame could not be cut to it.
void setUpSkinnedDialog(QDialog *dialog, const QString &name, const QString &caption,
                        int widthTwips, int heightTwips);

// Puts a control at its place in the layout, given in twips.
template <class W> W *placeTwips(W *widget, int left, int top, int width, int height) {
    widget->setGeometry(platform::twipsRect(left, top, width, height));
    return widget;
}

// Sets one colour of a control's palette.
void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour);
// Fills the control's background with a colour.
void fillBackground(QWidget *widget, const QColor &colour);
