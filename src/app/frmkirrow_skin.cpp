// The main window's skin: its pictures, the outline cut from the skin, the buttons that light up
// under the pointer, and dragging the window by its skin.

#include "frmkirrow.h"
#include "knobbox.h"
#include "modmoveform.h"
#include "modshape.h"
#include "picturebox.h"
#include "picturepreload.h"
#include "region.h"
#include "skinresources.h"
#include "twips.h"
#include "volumecontroller.h"

#include <QCursor>
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
    m_imageButtons.clear();
    for (const ImageButtonEntry &entry : ImageButtonTable())
        m_imageButtons.push_back({this->*entry.box, QLatin1String(entry.normal),
                                  QLatin1String(entry.lit), entry.mouseUpStep});
    for (int i = 0; i < m_imageButtons.size(); ++i) {
        const ImageButton &B = m_imageButtons[i];
        B.box->setPicture(Holder(B.normal));
        connect(B.box, &PictureBox::mouseMoved, this,
                [this, i](Qt::MouseButtons, Qt::KeyboardModifiers, QPointF at) {
                    ImageButton_MouseMove(m_imageButtons[i], at);
                });
        connect(B.box, &PictureBox::mouseReleased, this,
                [this, i](Qt::MouseButton, Qt::KeyboardModifiers, QPointF) {
                    ImageButton_MouseUp(m_imageButtons[i]);
                });
        connect(B.box, &PictureBox::pointerLost, this, [this, box = B.box] {
            if (m_capturing == box)
                EndHover();
        });
    }
}

// One flag serves all the buttons: the lit one holds the pointer until the pointer leaves it.
void frmKirrow::ImageButton_MouseMove(const ImageButton &B, QPointF position) {
    if (!blnHovering) {
        blnHovering = true;
        B.box->setPicture(Holder(B.lit));
        B.box->grabMouse();
        m_capturing = B.box;
        return;
    }
    const qreal X = position.x();
    const qreal Y = position.y();
    // The right and bottom edges count as inside.
    if (X < 0 || Y < 0 || X > B.box->width() || Y > B.box->height()) {
        blnHovering = false;
        B.box->setPicture(Holder(B.normal));
        B.box->releaseMouse();
        m_capturing = nullptr;
    }
}

void frmKirrow::ImageButton_MouseUp(const ImageButton &B) {
    // Only a button the pointer is still over, that can be pressed, takes it back: a disabled or
    // hidden one gets no pointer events and would keep the whole screen's pointer.
    if (!B.mouseUpStep || !B.box->isEnabled() || !B.box->isVisible() ||
        !B.box->rect().contains(B.box->mapFromGlobal(QCursor::pos())))
        return;
    blnHovering = true;
    B.box->grabMouse();
    m_capturing = B.box;
}

// A modal dialog gets no pointer while a button of this window holds it: let go, and put the
// button back as it looks without the pointer.
void frmKirrow::EndHover() {
    if (!m_capturing)
        return;
    if (QWidget::mouseGrabber() == m_capturing)
        m_capturing->releaseMouse();
    for (const ImageButton &B : m_imageButtons)
        if (B.box == m_capturing)
            B.box->setPicture(Holder(B.normal));
    m_capturing = nullptr;
    blnHovering = false;
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
