#pragma once

#include <QDialog>
#include <QStringList>

#include <optional>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class PictureBox;

// The login dialog: asks for the SIP server, the account number and the password, saves them
// with the choice whether to keep them, and closes. It never talks to the network itself.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(QWidget *parent = nullptr);

    // The pictures the dialog shows first, for decoding ahead of it.
    static QStringList FirstPictures();

    PictureBox *Picture1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtSip = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtAcctNo = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtPassword = nullptr;
    QCheckBox *chkbxSaveSettings = nullptr;
    QPushButton *cmdLogin = nullptr;
    QPushButton *cmdExit = nullptr;

    // What LOGIN took from the fields, whether or not it could be saved; empty until then.
    struct Login {
        QString sipServer;
        QString account;
        QString password;
    };
    const std::optional<Login> &loggedIn() const { return m_loggedIn; }
    // Whether the dialog was left with EXIT, which at start-up ends the program.
    bool exitChosen() const { return m_exitChosen; }

    // Shows or masks the password; it is kept and sent exactly as typed either way.
    void revealPassword(bool reveal);
    QAction *passwordToggle = nullptr;

private slots:
    void cmdLogin_Click();
    void cmdExit_Click();

private:
    void CreateControls();
    void Form_Load();
    void ShapeFromSkin();
    void SaveProfile();
    void ReadProfile();
    bool SaveLogin();

    bool m_exitChosen = false;
    QString strAccount;
    QString strPassword;
    QString strSaveSettings;
    QString strSipServer;
    std::optional<Login> m_loggedIn;
};
