#include "tooltipwindow.h"

#include <QApplication>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

using namespace tooltip;

namespace {

constexpr int kBorder = 1;
constexpr int kPadding = 2;        // inside a box's border, before the margin
constexpr int kBalloonPadding = 6; // inside a balloon's outline, clear of its round corners
constexpr int kBalloonRadius = 8;
constexpr int kStemHeight = 10;
constexpr int kStemBase = 16;
constexpr int kIconSize = 16;
constexpr int kIconGap = 6;
constexpr int kTitleGap = 4; // between the title line and the text

QFont tipFont() {
    return QApplication::font("QTipLabel");
}

QFont titleFont() {
    QFont font = tipFont();
    font.setBold(true);
    return font;
}

int textFlags(const TipLook &look) {
    return int(textAlignment(look.alignment)) | Qt::AlignTop | Qt::TextExpandTabs |
           (look.width > 0 ? Qt::TextWordWrap : 0);
}

} // namespace

TooltipWindow::TooltipWindow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("TooltipWindow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    m_animation = new QPropertyAnimation(this, "opening", this);
    m_animation->setDuration(kOpeningMs);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
}

TooltipWindow::~TooltipWindow() = default;

bool TooltipWindow::isOpening() const {
    return m_animation->state() == QAbstractAnimation::Running;
}

void TooltipWindow::popUp(const TipLook &look, const QRect &tool, bool centred, QPoint pointer,
                          int ShowMode) {
    m_animation->stop();
    m_look = look;
    // A screen reader reads the tip by its name, as it reads the desktop's own tips.
    setAccessibleName(look.title.isEmpty() ? look.text
                                           : look.title + QLatin1Char('\n') + look.text);
    m_showMode = look.balloon ? 0 : ShowMode; // a balloon opens at once
    layOut(tool, centred, pointer);
    if (opensGradually(m_showMode)) {
        setOpening(0);
        show();
        m_animation->start();
    } else {
        setOpening(1);
        show();
    }
    update();
}

void TooltipWindow::pop() {
    m_animation->stop();
    hide();
}

// Sizes the tip to its title and text and puts it in its place.
void TooltipWindow::layOut(const QRect &tool, bool centred, QPoint pointer) {
    const QFontMetrics textMetrics(tipFont());
    const int lineWidth = m_look.width > 0 ? m_look.width : 32767;
    const QRect text =
        textMetrics.boundingRect(QRect(0, 0, lineWidth, 32767), textFlags(m_look), m_look.text);
    QSize titleRow;
    const bool hasIcon = !m_look.title.isEmpty() && !m_look.icon.isNull();
    if (!m_look.title.isEmpty()) {
        const QSize title = QFontMetrics(titleFont()).size(Qt::TextSingleLine, m_look.title);
        titleRow = QSize(title.width() + (hasIcon ? kIconSize + kIconGap : 0),
                         qMax(title.height(), hasIcon ? kIconSize : 0));
    }
    const int contentW = qMax(text.width(), titleRow.width());
    const int titleH = titleRow.isEmpty() ? 0 : titleRow.height() + kTitleGap;
    const int contentH = titleH + text.height();
    const int pad = kBorder + (m_look.balloon ? kBalloonPadding : kPadding) + m_look.margin;
    const int stem = m_look.balloon ? kStemHeight : 0;
    const QSize size(contentW + 2 * pad, contentH + 2 * pad + stem);

    const QScreen *screen = QGuiApplication::screenAt(tool.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const TipPlace place = placeTip(
        tool, size, screen ? screen->geometry() : QRect(0, 0, 32767, 32767), centred, pointer);

    // A balloon's stem is on the side towards the tool (or the pointer).
    const int top = (place.below ? stem : 0) + pad;
    if (hasIcon)
        m_iconRect = QRect(pad, top + (titleRow.height() - kIconSize) / 2, kIconSize, kIconSize);
    else
        m_iconRect = QRect();
    m_titleRect = QRect(pad + (hasIcon ? kIconSize + kIconGap : 0), top,
                        titleRow.width() - (hasIcon ? kIconSize + kIconGap : 0), titleRow.height());
    m_textRect = QRect(pad, top + titleH, contentW, text.height());

    m_outline = QPainterPath();
    if (m_look.balloon) {
        const QRectF body(0.5, (place.below ? stem : 0) + 0.5, size.width() - 1,
                          size.height() - stem - 1);
        const int aim = centred ? tool.center().x() : pointer.x();
        const qreal apexX =
            qBound<qreal>(kBalloonRadius + kStemBase / 2.0, aim - place.geometry.x() + 0.5,
                          size.width() - kBalloonRadius - kStemBase / 2.0);
        QPolygonF stemShape;
        if (place.below)
            stemShape << QPointF(apexX - kStemBase / 2.0, body.top() + 1) << QPointF(apexX, 0.5)
                      << QPointF(apexX + kStemBase / 2.0, body.top() + 1);
        else
            stemShape << QPointF(apexX - kStemBase / 2.0, body.bottom() - 1)
                      << QPointF(apexX, size.height() - 0.5)
                      << QPointF(apexX + kStemBase / 2.0, body.bottom() - 1);
        QPainterPath bodyPath;
        bodyPath.addRoundedRect(body, kBalloonRadius, kBalloonRadius);
        QPainterPath stemPath;
        stemPath.addPolygon(stemShape);
        stemPath.closeSubpath();
        m_outline = bodyPath.united(stemPath).simplified();
    }
    setGeometry(place.geometry);
}

QRegion TooltipWindow::shape() const {
    if (!m_look.balloon)
        return QRegion(rect());
    return QRegion(m_outline.toFillPolygon().toPolygon(), Qt::WindingFill);
}

// Each stage of the opening shows more of the tip; the tip is drawn whole underneath.
void TooltipWindow::setOpening(qreal stage) {
    m_opening = stage;
    if (stage >= 1) {
        if (m_look.balloon)
            setMask(shape());
        else
            clearMask();
    } else {
        setMask(shape().intersected(openingRect(size(), m_showMode, stage)));
    }
    if (m_showMode & OpenFading)
        setWindowOpacity(qMax(0.01, stage));
    else if (windowOpacity() < 1)
        setWindowOpacity(1);
    if (m_showMode & OpenSliding)
        update();
}

void TooltipWindow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.translate(slideOffset(size(), m_showMode, m_opening));
    if (m_look.balloon) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(m_look.foreground, kBorder));
        painter.setBrush(m_look.background);
        painter.drawPath(m_outline);
        painter.setRenderHint(QPainter::Antialiasing, false);
    } else {
        painter.fillRect(rect(), m_look.background);
        painter.setPen(m_look.foreground);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    painter.setPen(m_look.foreground);
    if (!m_look.title.isEmpty()) {
        if (!m_iconRect.isNull())
            m_look.icon.paint(&painter, m_iconRect);
        painter.setFont(titleFont());
        painter.drawText(m_titleRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         m_look.title);
    }
    painter.setFont(tipFont());
    painter.drawText(m_textRect, textFlags(m_look), m_look.text);
}
