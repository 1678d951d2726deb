#pragma once

#include "rtcclient.h"
#include "settingsstore.h"

#include <QTimer>
#include <QWizard>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace audio {

// The audio tuning wizard: the devices for the speakers, the ringer and the microphone, chosen
// from the client's devices and tried out (a test sound, the microphone's level, an echo test).
// Each choice goes to the client at once, so the tries use it; Finish keeps the choices in the
// settings for the next start, Cancel gives the client back the devices it had.
class TuningWizard : public QWizard {
    Q_OBJECT
public:
    enum Page { SpeakersPage, MicrophonePage, DonePage };

    // Reads the client's devices; throws what the client throws.
    explicit TuningWizard(rtc::IRTCClient &client, QWidget *parent = nullptr);
    ~TuningWizard() override;

    void done(int result) override;

    // The controls, by rtc::RTC_AUDIO_DEVICE where there is one for each part.
    QComboBox *cmbDevice[3] = {};
    QLabel *lblGone[3] = {}; // says that the device chosen before is not there
    QPushButton *cmdTestSound = nullptr;
    QProgressBar *prgLevel = nullptr;
    QPushButton *cmdEchoTest = nullptr;
    QCheckBox *chkHeadset = nullptr; // a headset needs no echo cancelling
    QLabel *lblSummary = nullptr;
    QLabel *lblProblem[2] = {}; // a try that failed, on the speakers and microphone pages

private:
    QWizardPage *speakersPage();
    QWizardPage *microphonePage();
    QWizardPage *donePage();
    QWidget *devicePicker(rtc::RTC_AUDIO_DEVICE part, const QString &caption);
    void fillDevices(const QList<rtc::AudioDevice> &devices);
    void deviceChosen(rtc::RTC_AUDIO_DEVICE part);
    void pageShown(int id);
    void showLevel();
    void showSummary();
    void stopTries();
    // Runs a step of the client; a failure is told on the page instead of ending the wizard.
    bool tryStep(QLabel *problem, const std::function<void()> &step);
    QString chosen(rtc::RTC_AUDIO_DEVICE part) const;
    QString chosenName(rtc::RTC_AUDIO_DEVICE part) const;

    rtc::IRTCClient &m_client;
    account::AudioDeviceChoice m_before; // what the client had when the wizard opened
    QTimer m_meter;
};

// Runs the wizard, modal over parent, until the user closes it. Throws what the client throws
// while the wizard opens (a client that is not running, say).
void InvokeTuningWizard(rtc::IRTCClient &client, QWidget *parent);

} // namespace audio
