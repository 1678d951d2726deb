// Saves two logins in turn, as fast as it can, until killed, printing "A" or "B" on a line of its
// own after each: tst_settingsstore kills it at varied moments and checks what the file holds.
// Arguments: password, account, SIP server and save flag of login A, then the same of login B.

#include "settingsstore.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <exception>

#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 9) {
        std::fputs("usage: settingswriter PASSWORD ACCOUNT SIP SAVE (of A) ... (of B)\n", stderr);
        return 2;
    }
    // Only ever into a folder made for it: never the user's own settings.
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME")) {
        std::fputs("settingswriter: XDG_CONFIG_HOME must name a scratch folder\n", stderr);
        return 2;
    }
    QString values[8];
    for (int i = 0; i < 8; ++i)
        values[i] = QString::fromUtf8(argv[i + 1]);
    try {
        for (int login = 0;; login = 1 - login) {
            const QString *v = values + 4 * login;
            account::saveLogin(v[0], v[1], v[2], v[3]);
            if (::write(STDOUT_FILENO, login ? "B\n" : "A\n", 2) != 2)
                return 1;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
