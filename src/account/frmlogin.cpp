#include "frmlogin.h"

#include "errortraps.h"
#include "messagebox.h"
#include "picturebox.h"
#include "region.h"
#include "settingsstore.h"
#include "skinnedform.h"
#include "skinresources.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int kClientWidthTwips = 4440;
constexpr int kClientHeightTwips = 4680;
const QColor kBackColour(165, 203, 221);

QLabel *whiteLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    fillBackground(label, Qt::white);
    return label;
}
} // namespace

frmLogin::frmLogin(QLabel *exitMarker, QWidget *parent)
    : QDialog(parent), m_exitMarker(exitMarker) {
    CreateControls();
    Form_Load();
}

void frmLogin::CreateControls() {
    setUpSkinnedDialog(this, QStringLiteral("frmLogin"), QStringLiteral("Please Enter Your Pin"),
                       kClientWidthTwips, kClientHeightTwips);
    // The layout was drawn for a small dialog font; labels must fit their boxes.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
    fillBackground(this, kBackColour);

    Picture1 = placeTwips(new PictureBox(this), 0, 0, 3240, 3420);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Label1 = placeTwips(whiteLabel(QStringLiteral("Sip IP/Domain"), Picture1), 240, 480, 1095, 255);
    txtSip = placeTwips(new QLineEdit(Picture1), 1440, 480, 1575, 285);
    Label3 = placeTwips(whiteLabel(QStringLiteral("Account/Pin"), Picture1), 240, 840, 1095, 255);
    txtAcctNo = placeTwips(new QLineEdit(Picture1), 1440, 840, 1575, 285);
    txtAcctNo->setMaxLength(15);
    Label2 = placeTwips(whiteLabel(QStringLiteral("Password"), Picture1), 360, 1200, 975, 255);
    txtPassword = placeTwips(new QLineEdit(Picture1), 1440, 1200, 1575, 285);
    // The password shows as typed, as it always has.
    chkbxSaveSettings =
        placeTwips(new QCheckBox(QStringLiteral("Save "), Picture1), 2040, 1680, 855, 255);
    chkbxSaveSettings->setAutoFillBackground(true);
    chkbxSaveSettings->setPalette(Label1->palette());
    chkbxSaveSettings->setChecked(true);
    cmdLogin = placeTwips(new QPushButton(QStringLiteral("LOGIN"), Picture1), 600, 2160, 800, 300);
    cmdExit = placeTwips(new QPushButton(QStringLiteral("EXIT"), Picture1), 1800, 2160, 800, 300);
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
