#pragma once

// startProgramAndLogIn, for the program itself, is with the driver of the real program.
#include "kirrowprogram.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class FakeRTCClient;
class QProcess;
class frmKirrow;

// Answers the next login dialog that opens modally, from inside its own event loop, the way a
// user would: types the given values and clicks LOGIN, or clicks EXIT.
struct LoginAnswer {
    enum Action { Login, Exit, CloseWindow } action = Login;
    QString server;
    QString account;
    QString password;
    bool save = true;
    bool overwrite = true; // replace what the dialog pre-filled
    bool byHand = false;   // typed and clicked with xdotool on the X server
};

void answerNextLoginDialog(const LoginAnswer &answer);
// Answers a login dialog that is open now, with xdotool.
void answerByHand(class frmLogin *dialog, const LoginAnswer &answer);

// Collects message boxes instead of showing them, for the lifetime of the object.
class MessageCatcher {
public:
    MessageCatcher();
    ~MessageCatcher();
    QStringList texts() const;
    void clear();
};

// A main window over a scripted engine, started and logged in as 1001 at sip.example.net (not
// registered yet). client, when given, receives the engine it created.
std::unique_ptr<frmKirrow> startOverFakeEngine(std::shared_ptr<FakeRTCClient> *client = nullptr);
