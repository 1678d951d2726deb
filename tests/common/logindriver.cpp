#include "logindriver.h"

#include "dialogdriver.h"

#include "fakertcclient.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "messagebox.h"
#include "xdo.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

namespace {

// Replaces a field's text as a user does: click into it, select all, type.
void retype(QLineEdit *field, const QString &text) {
    xdo::click(field);
    xdo::key({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")});
    if (!text.isEmpty())
        xdo::type(text);
    QTRY_COMPARE(field->text(), text);
}

} // namespace

void answerByHand(frmLogin *dialog, const LoginAnswer &answer) {
    // A step that failed closes the dialog, so the test is not stuck in it for the rest of the run.
    const auto unstick = qScopeGuard([dialog] {
        if (QTest::currentTestFailed())
            dialog->reject();
    });
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    xdo::focusWindow(dialog);
    if (answer.action == LoginAnswer::Exit) {
        xdo::click(dialog->cmdExit);
        return;
    }
    if (answer.overwrite) {
        retype(dialog->txtSip, answer.server);
        retype(dialog->txtAcctNo, answer.account);
        retype(dialog->txtPassword, answer.password);
        if (QTest::currentTestFailed())
            return;
    }
    if (dialog->chkbxSaveSettings->isChecked() != answer.save)
        xdo::click(dialog->chkbxSaveSettings);
    QTRY_COMPARE(dialog->chkbxSaveSettings->isChecked(), answer.save);
    xdo::click(dialog->cmdLogin);
}

namespace {

void answer(frmLogin *dialog, const LoginAnswer &answer) {
    if (answer.byHand) {
        answerByHand(dialog, answer);
        return;
    }
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
