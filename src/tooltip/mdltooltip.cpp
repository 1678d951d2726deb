#include "mdltooltip.h"

#include "clstooltip.h"
#include "tooltipwindow.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHash>
#include <QMouseEvent>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QWidget>

namespace mdlTooltip {

TooltipWindow *hTooltipWnd = nullptr;
QObject *hTooltipHook = nullptr;
qint32 lngTooltipInstances = 0;

QColor TranslateColor(const TooltipColor &clr) {
    QColor colour;
    if (const QPalette::ColorRole *role = clr.role())
        colour = QGuiApplication::palette().color(*role);
    else if (const QColor *own = clr.colour())
        colour = *own;
    return colour.isValid() ? colour : QColor(Qt::black);
}

// Follows the pointer over every widget of the program. When it rests on a tool in the active
// window, the tool's owner shows the tip; leaving the tool, a press, the tool or its window going
// away, or the time running out closes it. A tip closed by a press or by time stays closed until
// the pointer leaves the tool.
class TooltipHook : public QObject {
public:
    TooltipHook() {
        m_wait.setSingleShot(true);
        m_autoHide.setSingleShot(true);
        connect(&m_wait, &QTimer::timeout, this, &TooltipHook::showTip);
        connect(&m_autoHide, &QTimer::timeout, this, [this] {
            closeTip(true);
            m_quiet = true;
        });
        setDelays(std::nullopt, std::nullopt, std::nullopt);
    }

    QHash<QWidget *, clsTooltip *> tools;

    void setDelays(std::optional<int> show, std::optional<int> autoHide,
                   std::optional<int> reshow) {
        const int desktop = QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay);
        m_initial = show && *show >= 0 ? *show : desktop;
        m_autoPop = autoHide && *autoHide >= 0 ? *autoHide : desktop * 10;
        m_reshow = reshow && *reshow >= 0 ? *reshow : desktop / 5;
    }

    // The pointer left the tool, or the tool is going: its waiting and its tip end.
    bool leaveTool(bool tellOwner) {
        m_wait.stop();
        m_autoHide.stop();
        const bool tipWasUp = !m_shownBy.isNull();
        closeTip(tellOwner);
        m_tool = nullptr;
        m_quiet = false;
        return tipWasUp;
    }

    void forgetTool(QWidget *tool, bool tellOwner) {
        if (m_tool == tool)
            leaveTool(tellOwner);
        tools.remove(tool);
    }

    void forgetOwner(clsTooltip *owner) {
        if (m_shownBy == owner || (m_tool && tools.value(m_tool) == owner))
            leaveTool(false);
        tools.removeIf([owner](const auto &it) { return it.value() == owner; });
    }

    void refresh(QWidget *tool) {
        if (tool != m_tool || !m_shownBy)
            return;
        if (!m_shownBy->ShowTip(tool, m_pointer, false))
            closeTip(true);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::ToolTip:
            // Qt's own tooltip never shows over a tool of ours.
            return watched->isWidgetType() && toolAt(static_cast<QWidget *>(watched));
        case QEvent::MouseMove:
            if (watched->isWidgetType())
                pointerAt(static_cast<QWidget *>(watched),
                          static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
            break;
        case QEvent::Enter:
            if (watched->isWidgetType())
                pointerAt(static_cast<QWidget *>(watched),
                          static_cast<QEnterEvent *>(event)->globalPosition().toPoint());
            break;
        case QEvent::Leave:
            if (watched == m_tool && !globalRect(m_tool).contains(QCursor::pos()))
                leaveTool(true);
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            if (m_tool) {
                m_wait.stop();
                m_autoHide.stop();
                closeTip(true);
                m_quiet = true;
            }
            break;
        case QEvent::Hide:
        case QEvent::WindowDeactivate:
        case QEvent::WindowBlocked:
            if (m_tool && (watched == m_tool || watched == m_tool->window())) {
                leaveTool(true);
                m_pointerWindow = nullptr; // the pointer resting where it was is news again
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    static QRect globalRect(const QWidget *widget) {
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    }

    // The tool a widget belongs to: its own, or that of the nearest control around it that has
    // one (the text box inside a combo box is the combo box's).
    QWidget *toolAt(QWidget *widget) const {
        for (; widget; widget = widget->isWindow() ? nullptr : widget->parentWidget())
            if (tools.contains(widget))
                return widget;
        return nullptr;
    }

    // The pointer is at global, as a mouse event to receiver tells. The widget under it is found
    // from the window, not taken from the event: the same movement reaches the parents of a
    // widget that does not take it, and a widget holding the pointer gets it wherever it is.
    void pointerAt(QWidget *receiver, QPoint global) {
        QWidget *top = receiver->window();
        if (top == hTooltipWnd || (global == m_pointer && top == m_pointerWindow))
            return;
        m_pointer = global;
        m_pointerWindow = top;
        QWidget *under = nullptr;
        const QPoint inTop = top->mapFromGlobal(global);
        if (top->rect().contains(inTop)) {
            under = top->childAt(inTop);
            if (!under)
                under = top;
        } else {
            under = QApplication::widgetAt(global);
            if (under && under->window() == hTooltipWnd)
                return;
        }
        QWidget *tool = toolAt(under);
        if (tool != m_tool) {
            const bool tipWasUp = leaveTool(true);
            m_tool = tool;
            if (tool)
                m_wait.start(tipWasUp ? m_reshow : m_initial);
        } else if (tool && !m_shownBy && !m_quiet) {
            m_wait.start(m_initial); // the pointer has to rest on the tool
        }
    }

    void showTip() {
        if (!m_tool || m_quiet || !hTooltipWnd || !m_tool->isVisible())
            return;
        const QWidget *window = m_tool->window();
        if (!window->isActiveWindow() && !window->testAttribute(Qt::WA_AlwaysShowToolTips))
            return; // as every desktop does: tips in the window being worked in
        QPointer<clsTooltip> owner = tools.value(m_tool);
        if (!owner || !owner->ShowTip(m_tool, m_pointer, true) || !owner)
            return;
        m_shownBy = owner;
        if (m_autoPop > 0)
            m_autoHide.start(m_autoPop);
    }

    void closeTip(bool tellOwner) {
        if (hTooltipWnd)
            hTooltipWnd->pop();
        QPointer<clsTooltip> owner = m_shownBy;
        m_shownBy = nullptr;
        if (owner && tellOwner)
            emit owner->Pop();
    }

    QWidget *m_tool = nullptr;      // the tool under the pointer; forgotten before it is destroyed
    QPointer<clsTooltip> m_shownBy; // the owner of the tip that is up
    bool m_quiet = false;
    QPoint m_pointer;
    const QWidget *m_pointerWindow = nullptr; // compared only
    QTimer m_wait;
    QTimer m_autoHide;
    int m_initial = 0;
    int m_autoPop = 0;
    int m_reshow = 0;
};

namespace {
TooltipHook *hook() {
    return static_cast<TooltipHook *>(hTooltipHook);
}
} // namespace

void instanceCreated() {
    if (!hTooltipWnd) {
        hTooltipWnd = new TooltipWindow;
        hTooltipHook = new TooltipHook;
        qApp->installEventFilter(hTooltipHook);
    }
    ++lngTooltipInstances;
}

void instanceDestroyed(clsTooltip *instance) {
    if (hook())
        hook()->forgetOwner(instance);
    if (--lngTooltipInstances > 0)
        return;
    lngTooltipInstances = 0;
    if (hTooltipHook) {
        qApp->removeEventFilter(hTooltipHook);
        delete hTooltipHook;
        hTooltipHook = nullptr;
    }
    delete hTooltipWnd;
    hTooltipWnd = nullptr;
}

bool claimTool(QWidget *tool, clsTooltip *owner) {
    if (!hook() || hook()->tools.contains(tool))
        return false;
    hook()->tools.insert(tool, owner);
    return true;
}

void releaseTool(QWidget *tool, bool tellOwner) {
    if (hook())
        hook()->forgetTool(tool, tellOwner);
}

void toolChanged(QWidget *tool) {
    if (hook())
        hook()->refresh(tool);
}

void setDelays(std::optional<int> show, std::optional<int> autoHide, std::optional<int> reshow) {
    if (hook())
        hook()->setDelays(show, autoHide, reshow);
}

} // namespace mdlTooltip
