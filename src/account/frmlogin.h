#pragma once

#include <QDialog>

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
    // exitMarker is the main window's hidden label that EXIT marks with "EXITING".
    explicit frmLogin(QLabel *exitMarker, QWidget *parent = nullptr);

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

    static QString exitingMarker() { return QStringLiteral("EXITING"); }

private slots:
    void cmdLogin_Click();
    void cmdExit_Click();

private:
    void CreateControls();
    void Form_Load();
    void ShapeFromSkin();
    void SaveProfile();
    void ReadProfile();

    QLabel *m_exitMarker;
    QString strAccount;
    QString strPassword;
    QString strSaveSettings;
    QString strSipServer;
};
