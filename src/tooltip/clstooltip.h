#pragma once

#include "mdltooltip.h"

#include <QIcon>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPoint>

#include <optional>

// A title's icon: 0 none, 1 information, 2 warning, 3 error (the desktop's pictures for them),
// or a picture of the caller's.
class TooltipIcon {
public:
    TooltipIcon(int standard = 0) : m_standard(standard) {}
    TooltipIcon(const QIcon &icon) : m_icon(icon) {}
    QIcon icon() const;

private:
    int m_standard = 0;
    QIcon m_icon;
};

// Tooltips for controls: each control given to AddTool shows its tip, in its own colours and
// shape, when the pointer rests on it in the active window; the tip goes when the pointer leaves
// it, a button is pressed, or after a while. All instances share one tip window.
//
// A tool's text: a tool added without one asks NeedText each time its tip is to show (and shows
// none when the answer is empty); a tool added with an empty text never asks and never shows a
// tip; UpdateTool with an empty text makes the tool ask again.
class clsTooltip : public QObject {
    Q_OBJECT
public:
    explicit clsTooltip(QObject *parent = nullptr);
    ~clsTooltip() override;

    // Gives ToolObj a tip. Colours not given are the desktop's tooltip colours. Baloon: rounded
    // with a stem instead of a framed box. Title: a bold line above the text, cut to 80
    // characters, with Icon before it. ShowMode: how the tip opens (tooltip::TipOpening flags; a
    // balloon opens at once). Margin: pixels around the text. CenteredTooltip: the tip hangs
    // centred below the control instead of below the pointer. Transparent: the tip lets the
    // pointer through (every tip does). Alignment: 0 left, 1 centred, 2 right. Width: the text
    // wraps at this many pixels; 0 keeps each line whole. False when ToolObj is null or already
    // has a tool.
    bool AddTool(QWidget *ToolObj, const std::optional<QString> &TOOLTIPTEXT = std::nullopt,
                 const std::optional<TooltipColor> &ForeColor = std::nullopt,
                 const std::optional<TooltipColor> &BackColor = std::nullopt, bool Baloon = false,
                 const QString &Title = QString(), const TooltipIcon &Icon = 0, int ShowMode = 0,
                 int Margin = 0, bool CenteredTooltip = false, bool Transparent = false,
                 int Alignment = 0, int Width = 0);
    // Changes what is given of ToolObj's tool; a tip of it that is up shows the change at once.
    void UpdateTool(QWidget *ToolObj, const std::optional<QString> &TOOLTIPTEXT = std::nullopt,
                    const std::optional<TooltipColor> &ForeColor = std::nullopt,
                    const std::optional<TooltipColor> &BackColor = std::nullopt,
                    std::optional<bool> Baloon = std::nullopt,
                    const std::optional<QString> &Title = std::nullopt,
                    const std::optional<TooltipIcon> &Icon = std::nullopt,
                    std::optional<int> ShowMode = std::nullopt,
                    std::optional<int> Margin = std::nullopt,
                    std::optional<bool> CenteredTooltip = std::nullopt,
                    std::optional<int> Alignment = std::nullopt,
                    std::optional<int> Width = std::nullopt);
    // ToolObj shows no tip any more.
    void RemoveTool(QWidget *ToolObj);
    // Milliseconds before a tip shows, before it closes by itself, and before the next shows when
    // the pointer moves on from a tip to another tool. Shared by all instances. None given: the
    // desktop's delays again; a negative one is the desktop's.
    void SetDelayTimes(std::optional<int> Show = std::nullopt,
                       std::optional<int> AutoHide = std::nullopt,
                       std::optional<int> ReShow = std::nullopt);

    // The controls with a tool here, in the order they were added.
    QList<QWidget *> Tools() const;

signals:
    // The text for Tool's tip, which was added without one: set TOOLTIPTEXT (empty on entry).
    void NeedText(QWidget *Tool, QString &TOOLTIPTEXT);
    // A tip is opening.
    void Show();
    // A tip has closed.
    void Pop();

private:
    friend class mdlTooltip::TooltipHook;

    struct ToolEntry {
        qint32 ToolId = 0;
        QWidget *tool = nullptr;
        std::optional<QString> text; // none: asked through NeedText
        TooltipColor BackColor = QPalette::ToolTipBase;
        TooltipColor ForeColor = QPalette::ToolTipText;
        bool Baloon = false;
        QString Title;
        TooltipIcon Icon;
        qint32 ShowMode = 0;
        qint32 Margin = 0;
        bool CenteredTooltip = false;
        bool Transparent = false;
        qint32 Alignment = 0;
        qint32 Width = 0;
        QMetaObject::Connection watch;
    };

    ToolEntry *entryOf(const QWidget *tool);
    // Shows tool's tip, asking for its text if it has none; false when there is no text.
    // opening: the tip opens as its tool says and Show is raised; otherwise the tip that is up
    // is redrawn as it now is.
    bool ShowTip(QWidget *tool, QPoint pointer, bool opening);

    QList<ToolEntry> m_Tools;
    qint32 m_ToolCount = 0;
    QString m_TipText; // the last text given through NeedText
};
