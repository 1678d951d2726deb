#include "clstooltip.h"

#include "tooltiplayout.h"
#include "tooltipwindow.h"

#include <QApplication>
#include <QStyle>
#include <QWidget>

QIcon TooltipIcon::icon() const {
    if (!m_icon.isNull() || m_standard == 0)
        return m_icon;
    switch (m_standard) {
    case 1:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
    case 2:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case 3:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
    default:
        return QIcon();
    }
}

clsTooltip::clsTooltip(QObject *parent) : QObject(parent) {
    mdlTooltip::instanceCreated();
}

clsTooltip::~clsTooltip() {
    for (const ToolEntry &entry : std::as_const(m_Tools))
        disconnect(entry.watch);
    mdlTooltip::instanceDestroyed(this);
}

bool clsTooltip::AddTool(QWidget *ToolObj, const std::optional<QString> &TOOLTIPTEXT,
                         const std::optional<TooltipColor> &ForeColor,
                         const std::optional<TooltipColor> &BackColor, bool Baloon,
                         const QString &Title, const TooltipIcon &Icon, int ShowMode, int Margin,
                         bool CenteredTooltip, bool Transparent, int Alignment, int Width) {
    if (!ToolObj || !mdlTooltip::claimTool(ToolObj, this))
        return false;
    ToolEntry entry;
    entry.ToolId = m_ToolCount;
    entry.tool = ToolObj;
    entry.text = TOOLTIPTEXT;
    if (BackColor)
        entry.BackColor = *BackColor;
    if (ForeColor)
        entry.ForeColor = *ForeColor;
    entry.Baloon = Baloon;
    entry.Title = Title.left(tooltip::kTitleLength);
    entry.Icon = Icon;
    entry.ShowMode = ShowMode;
    entry.Margin = Margin;
    entry.CenteredTooltip = CenteredTooltip;
    entry.Transparent = Transparent;
    entry.Alignment = Alignment;
    entry.Width = Width;
    // A control that goes takes its tool with it.
    entry.watch = connect(ToolObj, &QObject::destroyed, this, [this, ToolObj] {
        mdlTooltip::releaseTool(ToolObj, true);
        m_Tools.removeIf([ToolObj](const ToolEntry &e) { return e.tool == ToolObj; });
    });
    ++m_ToolCount;
    m_Tools.append(entry);
    return true;
}

void clsTooltip::UpdateTool(QWidget *ToolObj, const std::optional<QString> &TOOLTIPTEXT,
                            const std::optional<TooltipColor> &ForeColor,
                            const std::optional<TooltipColor> &BackColor,
                            std::optional<bool> Baloon, const std::optional<QString> &Title,
                            const std::optional<TooltipIcon> &Icon, std::optional<int> ShowMode,
                            std::optional<int> Margin, std::optional<bool> CenteredTooltip,
                            std::optional<int> Alignment, std::optional<int> Width) {
    ToolEntry *entry = entryOf(ToolObj);
    if (!entry)
        return;
    if (TOOLTIPTEXT) {
        // An empty text is how a caller hands the text back to NeedText.
        if (TOOLTIPTEXT->isEmpty())
            entry->text.reset();
        else
            entry->text = TOOLTIPTEXT;
    }
    if (CenteredTooltip)
        entry->CenteredTooltip = *CenteredTooltip;
    if (BackColor)
        entry->BackColor = *BackColor;
    if (ForeColor)
        entry->ForeColor = *ForeColor;
    if (Baloon)
        entry->Baloon = *Baloon;
    if (Title)
        entry->Title = Title->left(tooltip::kTitleLength);
    if (Icon)
        entry->Icon = *Icon;
    if (ShowMode)
        entry->ShowMode = *ShowMode;
    if (Margin)
        entry->Margin = *Margin;
    if (Alignment)
        entry->Alignment = *Alignment;
    if (Width)
        entry->Width = *Width;
    mdlTooltip::toolChanged(ToolObj);
}

void clsTooltip::RemoveTool(QWidget *ToolObj) {
    ToolEntry *entry = entryOf(ToolObj);
    if (!entry)
        return;
    disconnect(entry->watch);
    m_Tools.removeIf([ToolObj](const ToolEntry &e) { return e.tool == ToolObj; });
    mdlTooltip::releaseTool(ToolObj, true);
}

void clsTooltip::SetDelayTimes(std::optional<int> Show, std::optional<int> AutoHide,
                               std::optional<int> ReShow) {
    mdlTooltip::setDelays(Show, AutoHide, ReShow);
}

QList<QWidget *> clsTooltip::Tools() const {
    QList<QWidget *> tools;
    for (const ToolEntry &entry : m_Tools)
        tools.append(entry.tool);
    return tools;
}

clsTooltip::ToolEntry *clsTooltip::entryOf(const QWidget *tool) {
    for (ToolEntry &entry : m_Tools)
        if (entry.tool == tool)
            return &entry;
    return nullptr;
}

bool clsTooltip::ShowTip(QWidget *tool, QPoint pointer, bool opening) {
    const ToolEntry *entry = entryOf(tool);
    if (!entry || !mdlTooltip::hTooltipWnd)
        return false;
    tooltip::TipLook look;
    if (entry->text) {
        look.text = *entry->text;
    } else {
        m_TipText.clear();
        emit NeedText(tool, m_TipText);
        look.text = m_TipText;
        entry = entryOf(tool); // the owner may have changed its tools meanwhile
        if (!entry || !mdlTooltip::hTooltipWnd)
            return false;
    }
    if (look.text.isEmpty())
        return false; // nothing to say: no tip
    look.title = tooltip::shownTitle(entry->Title);
    look.icon = entry->Icon.icon();
    look.foreground = mdlTooltip::TranslateColor(entry->ForeColor);
    look.background = mdlTooltip::TranslateColor(entry->BackColor);
    look.balloon = entry->Baloon;
    look.margin = entry->Margin;
    look.alignment = entry->Alignment;
    look.width = entry->Width;
    mdlTooltip::hTooltipWnd->popUp(look, QRect(tool->mapToGlobal(QPoint(0, 0)), tool->size()),
                                   entry->CenteredTooltip, pointer, opening ? entry->ShowMode : 0);
    if (opening)
        emit Show();
    return true;
}
