#include "logindriver.h"

#include "dialogdriver.h"

#include "fakertcclient.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "messagebox.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace {

void answer(frmLogin *dialog, const LoginAnswer &answer) {
    switch (answer.action) {
    case LoginAnswer::Exit:
        dialog->cmdExit->click();
        return;
    case LoginAnswer::CloseWindow:
        dialog->close();
        return;
    case LoginAnswer::Login:
        break;
    }
    if (answer.overwrite) {
        dialog->txtSip->setText(answer.server);
        dialog->txtAcctNo->setText(answer.account);
        dialog->txtPassword->setText(answer.password);
    }
    dialog->chkbxSaveSettings->setChecked(answer.save);
    dialog->cmdLogin->click();
}

QStringList &caught() {
    static QStringList texts;
    return texts;
}

} // namespace

void answerNextLoginDialog(const LoginAnswer &answer) {
    whenModalShows<frmLogin>([answer](frmLogin *dialog) { ::answer(dialog, answer); });
}

MessageCatcher::MessageCatcher() {
    caught().clear();
    platform::setMessageHandler(
        [](const QString &text, const QString &, platform::MessageIcon) { caught() << text; });
}

MessageCatcher::~MessageCatcher() {
    platform::setMessageHandler({});
}

QStringList MessageCatcher::texts() const {
    return caught();
}

void MessageCatcher::clear() {
    caught().clear();
}

std::unique_ptr<frmKirrow> startOverFakeEngine(std::shared_ptr<FakeRTCClient> *client) {
    auto window = std::make_unique<frmKirrow>([client] {
        auto made = std::make_shared<FakeRTCClient>();
        if (client)
            *client = made;
        return made;
    });
    LoginAnswer answer;
    answer.server = QStringLiteral("sip.example.net");
    answer.account = QStringLiteral("1001");
    answer.password = QStringLiteral("pw");
    answerNextLoginDialog(answer);
    window->Form_Load();
    return window;
}
