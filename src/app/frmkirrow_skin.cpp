// The main window's skin: its pictures, the outline cut from the skin, the buttons that light up
// under the pointer, and dragging the window by its skin.

#include "frmkirrow.h"
#include "hoverbuttons.h"
#include "knobbox.h"
#include "modmoveform.h"
#include "modshape.h"
#include "picturebox.h"
#include "picturepreload.h"
#include "region.h"
#include "skinresources.h"
#include "twips.h"
#include "volumecontroller.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>

namespace {

QPixmap resourcePicture(const QString &path) {
    return QPixmap::fromImage(skin::loadPicture(path));
}

const QString kSkinPicture = QStringLiteral(":/skin/main.bmp");

} // namespace

// The lit and normal pictures of the image buttons, by holder name ("on5", "offPC", ...).
QPixmap frmKirrow::Holder(const QString &name) const {
    if (name == QLatin1String("logOn"))
        return logOn->pixmap();
    if (name == QLatin1String("logOff"))
        return logOff->pixmap();
    return resourcePicture(QStringLiteral(":/buttons/%1.png").arg(name));
}

void frmKirrow::LoadPictures() {
    initSkinResources();
    // From a picture, not a file name: an icon made from a file name asks every image plug-in
    // whether it can read it, loading each one.
    setWindowIcon(QIcon(resourcePicture(QStringLiteral(":/icons/kirrow.png"))));
    Picture1->setPicture(skin::loadPicture(kSkinPicture));
    Picture4->setPicture(resourcePicture(QStringLiteral(":/icons/logo.png")));
    Image1->setPixmap(resourcePicture(QStringLiteral(":/icons/speaker.png")));
    Image2->setPixmap(resourcePicture(QStringLiteral(":/icons/microphone.png")));
    Image3->setPixmap(resourcePicture(QStringLiteral(":/icons/status.png")));
    Image1->setScaledContents(true);
    Image2->setScaledContents(true);
    for (KnobBox *knob : picWave)
        knob->setPixmap(resourcePicture(QStringLiteral(":/icons/knob.png")));
    Picture40->setPicture(resourcePicture(QStringLiteral(":/buttons/close.png")));
    Picture41->setPicture(resourcePicture(QStringLiteral(":/buttons/hide.png")));
    logOn->setPicture(resourcePicture(QStringLiteral(":/buttons/logOn.png")));
    logOff->setPicture(resourcePicture(QStringLiteral(":/buttons/logOff.png")));
    TrayIcon->setPicture(resourcePicture(QStringLiteral(":/icons/tray.png")));
}

// What the window shows first, in the order it loads them.
QStringList frmKirrow::FirstPictures() {
    QStringList paths{kSkinPicture, QStringLiteral(":/icons/kirrow.png")};
    for (const char *name : {"logo", "speaker", "microphone", "status", "knob"})
        paths << QStringLiteral(":/icons/%1.png").arg(QLatin1String(name));
    for (const char *name : {"close", "hide", "logOn", "logOff"})
        paths << QStringLiteral(":/buttons/%1.png").arg(QLatin1String(name));
    paths << QStringLiteral(":/icons/tray.png");
    for (const ImageButtonEntry &entry : ImageButtonTable())
        // The holders of the login key are the pictures above, not files of their own.
        if (qstrcmp(entry.normal, "logOff") != 0)
            paths << QStringLiteral(":/buttons/%1.png").arg(QLatin1String(entry.normal));
    return paths;
}

const std::vector<frmKirrow::ImageButtonEntry> &frmKirrow::ImageButtonTable() {
    // Every button but the audio wizard and the recent calls takes the pointer back on release.
    static const std::vector<ImageButtonEntry> table{
        {&frmKirrow::Picture6, "offPC", "onPC", true},
        {&frmKirrow::Picture8, "offCB", "onCB", true},
        {&frmKirrow::Picture11, "offPB", "onPB", true},
        {&frmKirrow::Picture2, "offTune", "onTune", false},
        {&frmKirrow::Picture3, "offEnd", "onEnd", false},
        {&frmKirrow::Picture13, "logOff", "logOn", true},
        {&frmKirrow::Picture16, "offDel", "onDel", true},
        {&frmKirrow::Picture17, "offBack", "onBack", true},
        {&frmKirrow::Picture20, "off1", "on1", true},
        {&frmKirrow::Picture21, "off2", "on2", true},
        {&frmKirrow::Picture22, "off3", "on3", true},
        {&frmKirrow::Picture25, "off4", "on4", true},
        {&frmKirrow::Picture26, "off5", "on5", true},
        {&frmKirrow::Picture27, "off6", "on6", true},
        {&frmKirrow::Picture30, "off7", "on7", true},
        {&frmKirrow::Picture31, "off8", "on8", true},
        {&frmKirrow::Picture32, "off9", "on9", true},
        {&frmKirrow::Picture35, "offy", "ony", true},
        {&frmKirrow::Picture36, "off0", "on0", true},
        {&frmKirrow::Picture37, "offHash", "onHash", true},
        {&frmKirrow::picMenu, "offMenu", "onMenu", true},
    };
    return table;
}

void frmKirrow::WireImageButtons() {
    m_hover = new skin::HoverButtons([this](const QString &name) { return Holder(name); }, this);
    for (const ImageButtonEntry &entry : ImageButtonTable())
        m_hover->add(this->*entry.box, QLatin1String(entry.normal), QLatin1String(entry.lit),
                     entry.mouseUpStep);
}

void frmKirrow::EndHover() {
    if (m_hover)
        m_hover->EndHover();
}

void frmKirrow::EndGestures() {
    EndHover();
    modMoveForm::FormDragCancel();
    if (m_volume)
        m_volume->CancelDrag();
}

int frmKirrow::ShowModal(QDialog &dialog) {
    EndGestures();
    return dialog.exec();
}

void frmKirrow::WireSkinDragging() {
    // Picture1 reports pixels; the drag works in twips of the skin, as the layout does.
    auto twips = [](QPointF at) {
        return QPointF(at.x() * platform::screenTwipsPerPixelX(),
                       at.y() * platform::screenTwipsPerPixelY());
    };
    connect(Picture1, &PictureBox::mousePressed, this,
            [this, twips](Qt::MouseButton, Qt::KeyboardModifiers, QPointF at) {
                const QPointF t = twips(at);
                modMoveForm::FormDragStart(this, t.x(), t.y());
            });
    connect(Picture1, &PictureBox::mouseMoved, this,
            [this, twips](Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPointF at) {
                if (buttons != Qt::LeftButton)
                    return; // only a left-button drag shows the outline
                const QPointF t = twips(at);
                modMoveForm::FormDragMove(this, t.x(), t.y());
            });
    connect(Picture1, &PictureBox::mouseReleased, this,
            [this, twips](Qt::MouseButton, Qt::KeyboardModifiers, QPointF at) {
                const QPointF t = twips(at);
                modMoveForm::FormDragEnd(this, t.x(), t.y());
            });
}

// The rounded shape the window has until the skin's outline replaces it.
void frmKirrow::ApplyStartupShape() {
    modShape::RoundFormRegion(this);
}

void frmKirrow::ApplySkinOutline() {
    shapeFromPicture(this, *Picture1);
}

bool frmKirrow::Hovering() const {
    return m_hover && m_hover->Hovering();
}
