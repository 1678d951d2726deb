#include "statusline.h"

#include <QEvent>
#include <QFontMetrics>

StatusLine::StatusLine(QWidget *parent) : QLabel(parent) {}

void StatusLine::showStatus(const QString &text, const QString &whole) {
    m_text = text;
    m_whole = whole.isEmpty() ? text : whole;
    refresh();
}

void StatusLine::setNote(const QString &note) {
    m_note = note;
    refresh();
}

bool StatusLine::fits(const QString &text) const {
    return fontMetrics().horizontalAdvance(text) <= contentsRect().width();
}

void StatusLine::resizeEvent(QResizeEvent *event) {
    QLabel::resizeEvent(event);
    refresh();
}

void StatusLine::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refresh();
}

void StatusLine::refresh() {
    const QString shown =
        fits(m_text) ? m_text
                     : fontMetrics().elidedText(m_text, Qt::ElideRight, contentsRect().width());
    if (text() != shown)
        setText(shown);
    QStringList tip;
    if (!m_whole.isEmpty())
        tip << m_whole;
    if (!m_note.isEmpty())
        tip << m_note;
    setToolTip(tip.join(QLatin1Char('\n')));
}
