#pragma once

#include <QColor>
#include <QPalette>

#include <optional>
#include <variant>

class clsTooltip;
class QWidget;
class TooltipWindow;

// A tip's colour: a colour of its own, or a role of the application's palette (the desktop's
// tooltip colours are QPalette::ToolTipBase and QPalette::ToolTipText), looked up each time a
// tip is drawn, so that it follows the desktop's theme.
class TooltipColor {
public:
    TooltipColor(const QColor &colour) : m_colour(colour) {}
    TooltipColor(Qt::GlobalColor colour) : m_colour(QColor(colour)) {}
    TooltipColor(QPalette::ColorRole role) : m_colour(role) {}

    const QColor *colour() const { return std::get_if<QColor>(&m_colour); }
    const QPalette::ColorRole *role() const { return std::get_if<QPalette::ColorRole>(&m_colour); }

private:
    std::variant<QColor, QPalette::ColorRole> m_colour;
};

// What every clsTooltip of the program shares: one tip window and one application-wide event
// filter that follows the pointer over the tools of all of them, made with the first clsTooltip
// and gone with the last.
namespace mdlTooltip {

// The tip window; null while there is no clsTooltip.
extern TooltipWindow *hTooltipWnd;
// The event filter on the application; null while there is no clsTooltip.
extern QObject *hTooltipHook;
// How many clsTooltip objects there are.
extern qint32 lngTooltipInstances;

// The colour a tip is drawn in: a palette role's colour as the palette has it now; a colour that
// is not valid is black.
QColor TranslateColor(const TooltipColor &clr);

// The filter class, which hands each tip to the clsTooltip that owns its tool.
class TooltipHook;

// For clsTooltip.
void instanceCreated();
void instanceDestroyed(clsTooltip *instance);
// Gives a control's tips to an instance; false when the control has a tool already.
bool claimTool(QWidget *tool, clsTooltip *owner);
// The control has no tool any more; a tip of its that is up closes (told by Pop when tellOwner).
void releaseTool(QWidget *tool, bool tellOwner);
// The control's tool changed: a tip of its that is up shows the tool as it is now.
void toolChanged(QWidget *tool);
// The delays before a tip shows, before it closes by itself, and before the next one shows
// when the pointer moves on from a tip to another tool, in milliseconds; missing or negative
// ones are the desktop's.
void setDelays(std::optional<int> show, std::optional<int> autoHide, std::optional<int> reshow);

} // namespace mdlTooltip
