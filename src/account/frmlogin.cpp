#include "frmlogin.h"

#include "errortraps.h"
#include "messagebox.h"
#include "picturebox.h"
#include "region.h"
#include "settingsstore.h"
#include "skinresources.h"
#include "twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using platform::twipsRect;
using platform::twipsToPixelsX;
using platform::twipsToPixelsY;

namespace {
constexpr int kClientWidthTwips = 4440;
constexpr int kClientHeightTwips = 4680;
const QColor kBackColour(165, 203, 221);

template <class W> W *place(W *widget, int left, int top, int width, int height) {
    widget->setGeometry(twipsRect(left, top, width, height));
    return widget;
}

QLabel *whiteLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    label->setPalette(palette);
    return label;
}
} // namespace

frmLogin::frmLogin(QLabel *exitMarker, QWidget *parent)
    : QDialog(parent), m_exitMarker(exitMarker) {
    CreateControls();
    Form_Load();
}

void frmLogin::CreateControls() {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Please Enter Your Pin"));
    // The outline is the skin's; a window manager's frame cannot be cut, so there is none.
    setWindowFlag(Qt::FramelessWindowHint);
    setFixedSize(twipsToPixelsX(kClientWidthTwips), twipsToPixelsY(kClientHeightTwips));
    // The layout was drawn for a small dialog font; labels must fit their boxes.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackColour);
    setPalette(palette);

    Picture1 = place(new PictureBox(this), 0, 0, 3240, 3420);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Label1 = place(whiteLabel(QStringLiteral("Sip IP/Domain"), Picture1), 240, 480, 1095, 255);
    txtSip = place(new QLineEdit(Picture1), 1440, 480, 1575, 285);
    Label3 = place(whiteLabel(QStringLiteral("Account/Pin"), Picture1), 240, 840, 1095, 255);
    txtAcctNo = place(new QLineEdit(Picture1), 1440, 840, 1575, 285);
    txtAcctNo->setMaxLength(15);
    Label2 = place(whiteLabel(QStringLiteral("Password"), Picture1), 360, 1200, 975, 255);
    txtPassword = place(new QLineEdit(Picture1), 1440, 1200, 1575, 285);
    // The password shows as typed, as it always has.
    chkbxSaveSettings =
        place(new QCheckBox(QStringLiteral("Save "), Picture1), 2040, 1680, 855, 255);
    chkbxSaveSettings->setAutoFillBackground(true);
    chkbxSaveSettings->setPalette(Label1->palette());
    chkbxSaveSettings->setChecked(true);
    cmdLogin = place(new QPushButton(QStringLiteral("LOGIN"), Picture1), 600, 2160, 800, 300);
    cmdExit = place(new QPushButton(QStringLiteral("EXIT"), Picture1), 1800, 2160, 800, 300);
    // Enter and Esc have no special effect.
    cmdLogin->setAutoDefault(false);
    cmdExit->setAutoDefault(false);

    txtSip->setObjectName(QStringLiteral("txtSip"));
    txtAcctNo->setObjectName(QStringLiteral("txtAcctNo"));
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    chkbxSaveSettings->setObjectName(QStringLiteral("chkbxSaveSettings"));
    cmdLogin->setObjectName(QStringLiteral("cmdLogin"));
    cmdExit->setObjectName(QStringLiteral("cmdExit"));

    setTabOrder(txtSip, txtAcctNo);
    setTabOrder(txtAcctNo, txtPassword);
    setTabOrder(txtPassword, chkbxSaveSettings);
    setTabOrder(chkbxSaveSettings, cmdLogin);
    setTabOrder(cmdLogin, cmdExit);

    connect(cmdLogin, &QPushButton::clicked, this, &frmLogin::cmdLogin_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmLogin::cmdExit_Click);
}

void frmLogin::Form_Load() {
    ShapeFromSkin();
    ReadProfile();
    if (!strPassword.isEmpty() || !strAccount.isEmpty() || !strSipServer.isEmpty()) {
        chkbxSaveSettings->setChecked(true);
        if (!strSipServer.isEmpty())
            txtSip->setText(strSipServer);
        if (!strAccount.isEmpty())
            txtAcctNo->setText(strAccount);
        if (!strPassword.isEmpty())
            txtPassword->setText(strPassword);
    }
}

void frmLogin::ShapeFromSkin() {
    initSkinResources();
    Picture1->setPicture(QImage(QStringLiteral(":/skin/login.png")));
    shapeFromPicture(this, Picture1->picture());
}

void frmLogin::ReadProfile() {
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
}

void frmLogin::SaveProfile() {
    account::writeEntry(account::kPasswordApp, strPassword);
    account::writeEntry(account::kAccountApp, strAccount);
    account::writeEntry(account::kSipApp, strSipServer);
}

void frmLogin::cmdLogin_Click() {
    if (txtAcctNo->text().isEmpty() || txtPassword->text().isEmpty()) {
        platform::showMessage(QStringLiteral("User Name and Password must not be blank"));
        return;
    }
    strAccount = txtAcctNo->text();
    strSipServer = txtSip->text();
    strPassword = txtPassword->text();
    // A store that cannot be written (a full disk, a read-only folder) is told, and the dialog
    // stays open with everything typed, rather than going on as if the values were saved.
    try {
        SaveProfile();
        strSaveSettings =
            chkbxSaveSettings->isChecked() ? QStringLiteral("yes") : QStringLiteral("no");
        account::writeEntry(account::kSaveApp, strSaveSettings);
    } catch (const std::exception &error) {
        platform::showMessage(platform::errorDescription(error), QString(),
                              platform::MessageIcon::Warning);
        return;
    }
    accept();
}

void frmLogin::cmdExit_Click() {
    if (m_exitMarker)
        m_exitMarker->setText(exitingMarker());
    reject();
}
