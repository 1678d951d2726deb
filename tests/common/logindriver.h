#pragma once

#include <QString>

// Answers the next login dialog that opens modally, from inside its own event loop, the way a
// user would: types the given values and clicks LOGIN, or clicks EXIT.
struct LoginAnswer {
    enum Action { Login, Exit, CloseWindow } action = Login;
    QString server;
    QString account;
    QString password;
    bool save = true;
    bool overwrite = true; // replace what the dialog pre-filled
};

void answerNextLoginDialog(const LoginAnswer &answer);

// Collects message boxes instead of showing them, for the lifetime of the object.
class MessageCatcher {
public:
    MessageCatcher();
    ~MessageCatcher();
    QStringList texts() const;
    void clear();
};
