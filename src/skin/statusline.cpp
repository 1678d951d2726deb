#include "statusline.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>

namespace {

// The status line as a screen reader reads it: a status bar, named by the text it shows, and
// described by its tooltip (the whole text, with any note).
class AccessibleStatusLine : public QAccessibleWidget {
public:
    explicit AccessibleStatusLine(StatusLine *line)
        : QAccessibleWidget(line, QAccessible::StatusBar) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const StatusLine *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *statusLineAccessible(const QString &className, QObject *object) {
    if (className == QLatin1String("StatusLine") && object && object->isWidgetType())
        return new AccessibleStatusLine(static_cast<StatusLine *>(object));
    return nullptr;
}

} // namespace

StatusLine::StatusLine(QWidget *parent) : QLabel(parent) {
    static const bool accessible = (QAccessible::installFactory(statusLineAccessible), true);
    Q_UNUSED(accessible);
}

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
