#pragma once

#include "rtcvalues.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;

// The connection dialog: the STUN server, ICE, call encryption and IPv6, as the settings hold
// them. OK saves them, in one write, and the dialog is accepted: the caller hands them to the
// running client. A STUN server that is not "host[:port]" is refused, saying what is wrong, and
// the dialog stays open; Cancel (or Escape) changes nothing.
class frmConnection : public QDialog {
    Q_OBJECT
public:
    explicit frmConnection(QWidget *parent = nullptr);

    // The options shown, as they stand in the fields.
    rtc::ConnectionOptions options() const;

    QLineEdit *txtStunServer = nullptr;
    QCheckBox *chkIce = nullptr;
    QComboBox *cmbEncryption = nullptr;
    QCheckBox *chkIpv6 = nullptr;
    QCheckBox *chkDirectCalls = nullptr;
    QDialogButtonBox *buttons = nullptr;

private slots:
    void cmdOK_Click();

private:
    void showOptions(const rtc::ConnectionOptions &options);
};
