#include "tooltiplayout.h"

#include <QtMath>

namespace tooltip {

QString shownTitle(const QString &Title) {
    return Title.left(kTitleLength).trimmed();
}

bool opensGradually(int ShowMode) {
    return ShowMode & (OpenLeftToRight | OpenRightToLeft | OpenTopToBottom | OpenBottomToTop |
                       OpenFromCentre | OpenFading);
}

QRect openingRect(QSize size, int ShowMode, qreal stage) {
    stage = qBound(0.0, stage, 1.0);
    const int w = size.width();
    const int h = size.height();
    const int shownW = qMax(1, qRound(w * stage));
    const int shownH = qMax(1, qRound(h * stage));
    if (ShowMode & OpenFromCentre)
        return QRect((w - shownW) / 2, (h - shownH) / 2, shownW, shownH);
    QRect shown(0, 0, w, h);
    if (ShowMode & OpenLeftToRight)
        shown.setWidth(shownW);
    else if (ShowMode & OpenRightToLeft)
        shown.setLeft(w - shownW);
    if (ShowMode & OpenTopToBottom)
        shown.setHeight(shownH);
    else if (ShowMode & OpenBottomToTop)
        shown.setTop(h - shownH);
    return shown;
}

QPoint slideOffset(QSize size, int ShowMode, qreal stage) {
    if (!(ShowMode & OpenSliding) || (ShowMode & OpenFromCentre))
        return {};
    const QRect shown = openingRect(size, ShowMode, stage);
    QPoint offset;
    if (ShowMode & OpenLeftToRight)
        offset.setX(shown.width() - size.width());
    else if (ShowMode & OpenRightToLeft)
        offset.setX(size.width() - shown.width());
    if (ShowMode & OpenTopToBottom)
        offset.setY(shown.height() - size.height());
    else if (ShowMode & OpenBottomToTop)
        offset.setY(size.height() - shown.height());
    return offset;
}

Qt::Alignment textAlignment(int Alignment) {
    switch (Alignment & 3) {
    case 1:
        return Qt::AlignHCenter;
    case 2:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

TipPlace placeTip(const QRect &tool, QSize tip, const QRect &screen, bool centred, QPoint pointer) {
    TipPlace place;
    int x = 0;
    int belowY = 0;
    int aboveY = 0;
    if (centred) {
        x = tool.left() + (tool.width() - tip.width()) / 2;
        belowY = tool.top() + tool.height();
        aboveY = tool.top() - tip.height();
    } else {
        x = pointer.x();
        belowY = pointer.y() + kPointerHeight;
        aboveY = pointer.y() - tip.height();
    }
    int y = belowY;
    if (belowY + tip.height() > screen.top() + screen.height() && aboveY >= screen.top()) {
        y = aboveY;
        place.below = false;
    }
    x = qMax(screen.left(), qMin(x, screen.left() + screen.width() - tip.width()));
    place.geometry = QRect(QPoint(x, y), tip);
    return place;
}

} // namespace tooltip
