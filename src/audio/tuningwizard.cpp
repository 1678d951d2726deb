#include "tuningwizard.h"

#include "devicechoice.h"
#include "errortraps.h"
#include "messagebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace audio {

namespace {

constexpr int kMeterMs = 50;

// The meter's bar, in percent: the level in decibels from -60 (as good as silent) to 0 (full
// scale), since loudness is heard in proportion to them rather than to the level itself.
int levelPercent(double level) {
    if (level <= 0)
        return 0;
    const double decibels = 20 * std::log10(level);
    return std::clamp(int(std::lround((decibels + 60) / 60 * 100)), 0, 100);
}

QString goneText(rtc::RTC_AUDIO_DEVICE part) {
    switch (part) {
    case rtc::RTCAD_SPEAKER:
        return QStringLiteral("The speakers chosen before are not connected: Kirrow uses the "
                              "default device.");
    case rtc::RTCAD_RINGER:
        return QStringLiteral("The ringer chosen before is not connected: Kirrow rings on the "
                              "default device.");
    case rtc::RTCAD_MICROPHONE:
        break;
    }
    return QStringLiteral("The microphone chosen before is not connected: Kirrow uses the "
                          "default device.");
}

QLabel *wrappedLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// A label for what went wrong: hidden until something does.
QLabel *problemLabel(const QString &name, QWidget *parent) {
    QLabel *label = wrappedLabel(QString(), parent);
    label->setObjectName(name);
    label->setStyleSheet(QStringLiteral("color: #a00000;"));
    label->hide();
    return label;
}

} // namespace

TuningWizard::TuningWizard(rtc::IRTCClient &client, QWidget *parent)
    : QWizard(parent), m_client(client) {
    setObjectName(QStringLiteral("TuningWizard"));
    setWindowTitle(QStringLiteral("Audio Tuning Wizard"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setMinimumSize(440, 340);

    const QList<rtc::AudioDevice> devices = m_client.AudioDevices();
    for (const rtc::RTC_AUDIO_DEVICE part : kParts)
        deviceOf(m_before, part) = m_client.PreferredAudioDevice(part);
    m_before.echoCancelling = m_client.EchoCancelling();

    setPage(SpeakersPage, speakersPage());
    setPage(MicrophonePage, microphonePage());
    setPage(DonePage, donePage());
    fillDevices(devices);

    m_meter.setInterval(kMeterMs);
    connect(&m_meter, &QTimer::timeout, this, &TuningWizard::showLevel);
    connect(this, &QWizard::currentIdChanged, this, &TuningWizard::pageShown);
}

TuningWizard::~TuningWizard() {
    stopTries();
}

QWidget *TuningWizard::devicePicker(rtc::RTC_AUDIO_DEVICE part, const QString &caption) {
    auto *picker = new QWidget(this);
    auto *layout = new QVBoxLayout(picker);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(caption, picker);
    cmbDevice[part] = new QComboBox(picker);
    cmbDevice[part]->setObjectName(QStringLiteral("cmbDevice(%1)").arg(part));
    label->setBuddy(cmbDevice[part]);
    lblGone[part] = wrappedLabel(goneText(part), picker);
    lblGone[part]->setObjectName(QStringLiteral("lblGone(%1)").arg(part));
    lblGone[part]->hide();
    layout->addWidget(label);
    layout->addWidget(cmbDevice[part]);
    layout->addWidget(lblGone[part]);
    connect(cmbDevice[part], &QComboBox::currentIndexChanged, this,
            [this, part] { deviceChosen(part); });
    return picker;
}

QWizardPage *TuningWizard::speakersPage() {
    auto *page = new QWizardPage(this);
    page->setTitle(QStringLiteral("Speakers and Ringer"));
    page->setSubTitle(QStringLiteral("Choose where you hear your calls and where the telephone "
                                     "rings."));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(devicePicker(rtc::RTCAD_SPEAKER, QStringLiteral("Calls are &heard on:")));
    cmdTestSound = new QPushButton(QStringLiteral("&Play Test Sound"), page);
    cmdTestSound->setObjectName(QStringLiteral("cmdTestSound"));
    layout->addWidget(cmdTestSound, 0, Qt::AlignLeft);
    layout->addSpacing(12);
    layout->addWidget(devicePicker(rtc::RTCAD_RINGER, QStringLiteral("The telephone &rings on:")));
    lblProblem[0] = problemLabel(QStringLiteral("lblProblem(0)"), page);
    layout->addWidget(lblProblem[0]);
    layout->addStretch();
    connect(cmdTestSound, &QPushButton::clicked, this,
            [this] { tryStep(lblProblem[0], [this] { m_client.PlayTestSound(); }); });
    return page;
}

QWizardPage *TuningWizard::microphonePage() {
    auto *page = new QWizardPage(this);
    page->setTitle(QStringLiteral("Microphone"));
    page->setSubTitle(QStringLiteral("Choose the microphone and speak: the bar moves as you are "
                                     "heard."));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(devicePicker(rtc::RTCAD_MICROPHONE, QStringLiteral("&Speak into:")));
    prgLevel = new QProgressBar(page);
    prgLevel->setObjectName(QStringLiteral("prgLevel"));
    prgLevel->setRange(0, 100);
    prgLevel->setValue(0);
    prgLevel->setTextVisible(false);
    layout->addWidget(prgLevel);
    layout->addSpacing(12);
    cmdEchoTest = new QPushButton(QStringLiteral("&Echo Test"), page);
    cmdEchoTest->setObjectName(QStringLiteral("cmdEchoTest"));
    cmdEchoTest->setCheckable(true);
    layout->addWidget(cmdEchoTest, 0, Qt::AlignLeft);
    layout->addWidget(wrappedLabel(QStringLiteral("The echo test plays what the microphone hears "
                                                  "on the speakers until you stop it. Use "
                                                  "headphones, or keep the speakers low."),
                                   page));
    chkHeadset = new QCheckBox(QStringLiteral("I use a &headset: no echo cancelling"), page);
    chkHeadset->setObjectName(QStringLiteral("chkHeadset"));
    chkHeadset->setToolTip(QStringLiteral("Echo cancelling keeps the far end from hearing itself "
                                          "from your speakers, and delays the call by about "
                                          "40 ms."));
    chkHeadset->setChecked(!m_before.echoCancelling);
    layout->addWidget(chkHeadset);
    connect(chkHeadset, &QCheckBox::toggled, this,
            [this](bool headset) { m_client.SetEchoCancelling(!headset); });
    lblProblem[1] = problemLabel(QStringLiteral("lblProblem(1)"), page);
    layout->addWidget(lblProblem[1]);
    layout->addStretch();
    connect(cmdEchoTest, &QPushButton::toggled, this, [this](bool on) {
        const bool done = tryStep(lblProblem[1], [this, on] {
            if (on)
                m_client.StartEchoTest();
            else
                m_client.StopEchoTest();
        });
        const QSignalBlocker quiet(cmdEchoTest);
        if (on && !done)
            cmdEchoTest->setChecked(false);
        cmdEchoTest->setText(cmdEchoTest->isChecked() ? QStringLiteral("&Stop Echo Test")
                                                      : QStringLiteral("&Echo Test"));
    });
    return page;
}

QWizardPage *TuningWizard::donePage() {
    auto *page = new QWizardPage(this);
    page->setTitle(QStringLiteral("Ready"));
    page->setSubTitle(QStringLiteral("Kirrow uses these devices from the next call on."));
    auto *layout = new QVBoxLayout(page);
    lblSummary = new QLabel(page);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    layout->addWidget(lblSummary);
    layout->addSpacing(12);
    layout->addWidget(wrappedLabel(QStringLiteral("Press Finish to keep them, also for the next "
                                                  "start, or Cancel to go back to the devices "
                                                  "used before."),
                                   page));
    layout->addStretch();
    return page;
}

// Each part starts on the device kept in the settings (or the one the client uses, when none is
// kept); one that is not there leaves the part on the default device, and the page says so.
void TuningWizard::fillDevices(const QList<rtc::AudioDevice> &devices) {
    account::AudioDeviceChoice saved = account::readAudioDevices();
    for (const rtc::RTC_AUDIO_DEVICE part : kParts) {
        QComboBox *box = cmbDevice[part];
        const QSignalBlocker quiet(box);
        box->addItem(QStringLiteral("Default device"), QString());
        for (const rtc::AudioDevice &device : devices)
            if (part == rtc::RTCAD_MICROPHONE ? device.canCapture : device.canPlay)
                box->addItem(device.name, device.id);
        QString start = deviceOf(saved, part);
        if (start.isEmpty())
            start = deviceOf(m_before, part);
        const int index = box->findData(start);
        box->setCurrentIndex(std::max(index, 0));
        lblGone[part]->setVisible(index < 0);
        if (chosen(part) != deviceOf(m_before, part))
            deviceChosen(part);
    }
    showSummary();
}

void TuningWizard::deviceChosen(rtc::RTC_AUDIO_DEVICE part) {
    QLabel *problem = lblProblem[part == rtc::RTCAD_MICROPHONE ? 1 : 0];
    tryStep(problem, [this, part] {
        if (m_client.SetPreferredAudioDevice(part, chosen(part))) {
            lblGone[part]->hide();
            return;
        }
        // Gone since the wizard opened: the client is on the default device, and so is the box.
        const QSignalBlocker quiet(cmbDevice[part]);
        cmbDevice[part]->setCurrentIndex(0);
        lblGone[part]->show();
    });
    showSummary();
}

void TuningWizard::pageShown(int id) {
    stopTries();
    if (id == MicrophonePage) {
        tryStep(lblProblem[1], [this] {
            m_client.StartCaptureMeter();
            m_meter.start();
        });
    }
}

void TuningWizard::showSummary() {
    lblSummary->setText(QStringLiteral("Speakers: %1\nRinger: %2\nMicrophone: %3")
                            .arg(chosenName(rtc::RTCAD_SPEAKER), chosenName(rtc::RTCAD_RINGER),
                                 chosenName(rtc::RTCAD_MICROPHONE)));
}

void TuningWizard::showLevel() {
    prgLevel->setValue(levelPercent(m_client.CaptureLevel()));
}

void TuningWizard::stopTries() {
    if (m_meter.isActive()) {
        m_meter.stop();
        prgLevel->setValue(0);
        platform::skipOnError([this] { m_client.StopCaptureMeter(); });
    }
    if (cmdEchoTest && cmdEchoTest->isChecked()) {
        platform::skipOnError([this] { m_client.StopEchoTest(); });
        const QSignalBlocker quiet(cmdEchoTest);
        cmdEchoTest->setChecked(false);
        cmdEchoTest->setText(QStringLiteral("&Echo Test"));
    }
}

void TuningWizard::done(int result) {
    stopTries();
    if (result == QDialog::Accepted) {
        account::AudioDeviceChoice choice;
        for (const rtc::RTC_AUDIO_DEVICE part : kParts)
            deviceOf(choice, part) = chosen(part);
        choice.echoCancelling = !chkHeadset->isChecked();
        try {
            account::saveAudioDevices(choice);
        } catch (const std::exception &error) {
            platform::showMessage(QStringLiteral("Kirrow uses these devices until it ends, but "
                                                 "they could not be kept for the next start: ") +
                                      platform::errorDescription(error),
                                  QString(), platform::MessageIcon::Warning);
        }
    } else {
        for (const rtc::RTC_AUDIO_DEVICE part : kParts)
            if (m_client.PreferredAudioDevice(part) != deviceOf(m_before, part))
                platform::skipOnError(
                    [&] { m_client.SetPreferredAudioDevice(part, deviceOf(m_before, part)); });
        m_client.SetEchoCancelling(m_before.echoCancelling);
    }
    QWizard::done(result);
}

bool TuningWizard::tryStep(QLabel *problem, const std::function<void()> &step) {
    try {
        step();
        problem->hide();
        return true;
    } catch (const std::exception &error) {
        problem->setText(platform::errorDescription(error));
        problem->show();
        return false;
    }
}

QString TuningWizard::chosen(rtc::RTC_AUDIO_DEVICE part) const {
    return cmbDevice[part]->currentData().toString();
}

QString TuningWizard::chosenName(rtc::RTC_AUDIO_DEVICE part) const {
    return cmbDevice[part]->currentText();
}

void InvokeTuningWizard(rtc::IRTCClient &client, QWidget *parent) {
    TuningWizard wizard(client, parent);
    wizard.exec();
}

} // namespace audio
