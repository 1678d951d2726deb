#include "frmconnection.h"

#include "connectionsettings.h"
#include "errortraps.h"
#include "messagebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmConnection::frmConnection(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConnection"));
    setWindowTitle(QStringLiteral("Connection"));
    setModal(true);

    txtStunServer = new QLineEdit(this);
    txtStunServer->setObjectName(QStringLiteral("txtStunServer"));
    txtStunServer->setPlaceholderText(QStringLiteral("host[:port]"));
    txtStunServer->setAccessibleName(QStringLiteral("STUN server"));
    txtStunServer->setAccessibleDescription(QStringLiteral("host or host:port; empty for none"));
    chkIce = new QCheckBox(QStringLiteral("Use &ICE"), this);
    chkIce->setObjectName(QStringLiteral("chkIce"));
    cmbEncryption = new QComboBox(this);
    cmbEncryption->setObjectName(QStringLiteral("cmbEncryption"));
    // In the order of rtc::RTC_ENCRYPTION, whose values are the items' indexes.
    cmbEncryption->addItems(
        {QStringLiteral("Off"), QStringLiteral("When possible"), QStringLiteral("Always")});
    cmbEncryption->setAccessibleName(QStringLiteral("Call encryption"));
    chkIpv6 = new QCheckBox(QStringLiteral("Use IPv&6"), this);
    chkIpv6->setObjectName(QStringLiteral("chkIpv6"));
    chkDirectCalls =
        new QCheckBox(QStringLiteral("Allow &direct calls, not through the server"), this);
    chkDirectCalls->setObjectName(QStringLiteral("chkDirectCalls"));
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *form = new QFormLayout(this);
    auto *stunLabel = new QLabel(QStringLiteral("&STUN server:"), this);
    stunLabel->setBuddy(txtStunServer);
    auto *encryptionLabel = new QLabel(QStringLiteral("Call &encryption:"), this);
    encryptionLabel->setBuddy(cmbEncryption);
    form->addRow(stunLabel, txtStunServer);
    form->addRow(QString(), chkIce);
    form->addRow(encryptionLabel, cmbEncryption);
    form->addRow(QString(), chkIpv6);
    form->addRow(QString(), chkDirectCalls);
    form->addRow(buttons);
    txtStunServer->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 28);

    setTabOrder(txtStunServer, chkIce);
    setTabOrder(chkIce, cmbEncryption);
    setTabOrder(cmbEncryption, chkIpv6);
    setTabOrder(chkIpv6, chkDirectCalls);
    setTabOrder(chkDirectCalls, buttons);

    // Enter is OK and Escape Cancel, as in any dialog.
    connect(buttons, &QDialogButtonBox::accepted, this, &frmConnection::cmdOK_Click);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    showOptions(account::readConnectionOptions());
}

rtc::ConnectionOptions frmConnection::options() const {
    rtc::ConnectionOptions options;
    options.stunServer = txtStunServer->text().trimmed();
    options.ice = chkIce->isChecked();
    options.encryption = static_cast<rtc::RTC_ENCRYPTION>(cmbEncryption->currentIndex());
    options.ipv6 = chkIpv6->isChecked();
    options.directCalls = chkDirectCalls->isChecked();
    return options;
}

void frmConnection::showOptions(const rtc::ConnectionOptions &options) {
    txtStunServer->setText(options.stunServer);
    chkIce->setChecked(options.ice);
    cmbEncryption->setCurrentIndex(int(options.encryption));
    chkIpv6->setChecked(options.ipv6);
    chkDirectCalls->setChecked(options.directCalls);
}

void frmConnection::cmdOK_Click() {
    if (const QString problem = account::stunServerProblem(txtStunServer->text());
        !problem.isEmpty()) {
        platform::showMessage(problem, QString(), platform::MessageIcon::Warning);
        // Back to the entry, to be typed again: the keyboard returns to the dialog even where no
        // window manager gives it back when the message goes.
        activateWindow();
        txtStunServer->setFocus();
        txtStunServer->selectAll();
        return;
    }
    try {
        account::saveConnectionOptions(options());
    } catch (const std::exception &error) {
        // Not saved: they still apply to this run, as chosen.
        platform::showMessage(platform::errorDescription(error) +
                                  QStringLiteral(" The choices apply until Kirrow ends."),
                              QString(), platform::MessageIcon::Warning);
    }
    accept();
}
