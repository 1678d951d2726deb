#include "frmlogin.h"

#include "errortraps.h"
#include "messagebox.h"
#include "picturebox.h"
#include "picturepreload.h"
#include "profiletext.h"
#include "region.h"
#include "serverentry.h"
#include "settingsstore.h"
#include "skinnedform.h"
#include "skinresources.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {
constexpr int kClientWidthTwips = 4440;
constexpr int kClientHeightTwips = 4680;
const QColor kBackColour(165, 203, 221);
const QString kSkinPicture = QStringLiteral(":/skin/login.png");

// An eye, crossed out while the password shows (clicking it masks the password again).
QIcon eyeIcon(bool crossed) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(40, 78, 100);
    painter.setPen(QPen(ink, 1.3));
    QPainterPath lid;
    lid.moveTo(1.5, 8);
    lid.quadTo(8, 1.5, 14.5, 8);
    lid.quadTo(8, 14.5, 1.5, 8);
    painter.drawPath(lid);
    QRadialGradient iris(QPointF(7.3, 7.3), 3.2);
    iris.setColorAt(0, QColor(110, 170, 200));
    iris.setColorAt(1, ink);
    painter.setBrush(iris);
    painter.drawEllipse(QPointF(8, 8), 2.6, 2.6);
    if (crossed) {
        painter.setPen(QPen(QColor(170, 40, 40), 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
    }
    return QIcon(pixmap);
}

QLabel *whiteLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    fillBackground(label, Qt::white);
    return label;
}
} // namespace

frmLogin::frmLogin(QWidget *parent) : QDialog(parent) {
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
    // Masked, so it cannot be read over the user's shoulder; a small eye at the field's end
    // shows it when the user wants to check what was typed.
    passwordToggle = txtPassword->addAction(eyeIcon(false), QLineEdit::TrailingPosition);
    passwordToggle->setObjectName(QStringLiteral("passwordToggle"));
    passwordToggle->setCheckable(true);
    connect(passwordToggle, &QAction::toggled, this, &frmLogin::revealPassword);
    revealPassword(false);
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

QStringList frmLogin::FirstPictures() {
    return {kSkinPicture};
}

void frmLogin::ShapeFromSkin() {
    initSkinResources();
    Picture1->setPicture(skin::loadPicture(kSkinPicture));
    shapeFromPicture(this, *Picture1);
}

void frmLogin::ReadProfile() {
    strPassword = account::readEntry(account::kPasswordApp);
    strAccount = account::readEntry(account::kAccountApp);
    strSipServer = account::readEntry(account::kSipApp);
}

void frmLogin::revealPassword(bool reveal) {
    txtPassword->setEchoMode(reveal ? QLineEdit::Normal : QLineEdit::Password);
    passwordToggle->setIcon(eyeIcon(reveal));
    const QString tip =
        reveal ? QStringLiteral("Hide the password") : QStringLiteral("Show the password");
    passwordToggle->setText(tip);
    passwordToggle->setToolTip(tip);
}

// The three values and the choice to keep them go to the store in one write, so the saved
// account is always one whole login, the old one or the new one.
void frmLogin::SaveProfile() {
    account::saveLogin(strPassword, strAccount, strSipServer, strSaveSettings);
}

// Saves the login. A store that cannot be written matters only when the user asked to keep the
// account: then it is said once. Either way the login goes on with what was typed.
bool frmLogin::SaveLogin() {
    try {
        SaveProfile();
        return true;
    } catch (const std::exception &error) {
        if (chkbxSaveSettings->isChecked())
            platform::showMessage(platform::errorDescription(error) +
                                      QStringLiteral(" Kirrow logs in all the same, this time."),
                                  QString(), platform::MessageIcon::Warning);
        return false;
    }
}

void frmLogin::cmdLogin_Click() {
    if (txtAcctNo->text().isEmpty() || txtPassword->text().isEmpty()) {
        platform::showMessage(QStringLiteral("User Name and Password must not be blank"));
        return;
    }
    // Without a server there is nowhere to register, and an entry that names none in a form the
    // program knows would be sent nowhere useful: refused here with what is wrong, like a blank
    // account.
    const account::ServerEntry server = account::parseServerEntry(txtSip->text());
    if (!server.isValid()) {
        platform::showMessage(server.error);
        return;
    }
    if (!account::fitsProfile(txtAcctNo->text()) || !account::fitsProfile(txtPassword->text())) {
        platform::showMessage(QStringLiteral("User Name and Password must not hold control "
                                             "characters other than tab and line breaks"));
        return;
    }
    strAccount = txtAcctNo->text();
    strSipServer = txtSip->text();
    strPassword = txtPassword->text();
    strSaveSettings = chkbxSaveSettings->isChecked() ? QStringLiteral("yes") : QStringLiteral("no");
    SaveLogin();
    m_loggedIn = Login{strSipServer, strAccount, strPassword};
    accept();
}

void frmLogin::cmdExit_Click() {
    m_exitChosen = true;
    reject();
}
