#pragma once

#include <QLabel>

// The window's one-line status display. The status line is narrow: a text that does not fit is
// cut with an ellipsis rather than clipped mid-word, and its tooltip always holds the whole text
// (and, below it, a note such as a caller waiting), so nothing said there is lost.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    // Shows text; whole, when given, is the longer form the tooltip gives instead.
    void showStatus(const QString &text, const QString &whole = QString());
    // A second line for the tooltip, kept across status changes; empty for none.
    void setNote(const QString &note);
    // The text last given, before any cut.
    QString statusText() const { return m_text; }
    // Whether text is shown whole at the line's font and width.
    bool fits(const QString &text) const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    QString m_text;
    QString m_whole;
    QString m_note;
};
