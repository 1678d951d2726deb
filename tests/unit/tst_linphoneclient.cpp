#include "keytone.h"
#include "linphoneclient.h"
#include "sipscreen.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "toneclips.h"

#include <linphone/core.h>
#include <linphone/core_utils.h>
#include <linphone/factory.h>

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {

// The id the engine gives the device of that name; empty when it has none.
QString deviceId(const QList<rtc::AudioDevice> &devices, const QString &name) {
    for (const rtc::AudioDevice &device : devices)
        if (device.name == name)
            return device.id;
    return {};
}

QString engineDeviceId(LinphoneCore *core, const QString &name) {
    QString id;
    bctbx_list_t *list = linphone_core_get_extended_audio_devices(core);
    for (const bctbx_list_t *item = list; item; item = item->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(item->data);
        if (name == QLatin1String(linphone_audio_device_get_device_name(device)))
            id = QString::fromUtf8(linphone_audio_device_get_id(device));
    }
    bctbx_list_free_with_data(list,
                              reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    return id;
}

// An engine of the test's own, started, with no port and no database; null when it does not start.
struct EngineRelease {
    void operator()(LinphoneCore *core) const {
        linphone_core_stop(core);
        linphone_core_unref(core);
    }
};
using EnginePtr = std::unique_ptr<LinphoneCore, EngineRelease>;
EnginePtr startedEngine() {
    LinphoneConfig *config = linphone_factory_create_config_from_string(linphone_factory_get(), "");
    linphone_config_set_int(config, "sip", "sip_port", 0);
    linphone_config_set_string(config, "storage", "uri", ":memory:");
    EnginePtr core(
        linphone_factory_create_core_with_config_3(linphone_factory_get(), config, nullptr));
    linphone_config_unref(config);
    if (core && linphone_core_start(core.get()) != 0)
        core.reset();
    return core;
}

// Whether the recording's loud part is made of the one frequency.
bool mostlyTone(const QByteArray &samples, double hz) {
    return !soundcheck::loudSpans(samples, soundcheck::kRate).isEmpty() &&
           soundcheck::toneShares(samples, soundcheck::kRate, {hz}).first() > 0.8;
}

} // namespace

// The engine's port and address choices, what it refuses before it is ready, and its sound
// devices (on the PulseAudio of the test environment, with sinks and sources loaded by the test).
class TestLinphoneClient : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

    void staticPortWhenFreeOtherwiseAnyFreePort() {
        QUdpSocket holder;
        if (holder.bind(QHostAddress::LocalHost, 5060)) {
            const int port = rtc::chooseSipPort(QStringLiteral("127.0.0.1"));
            QVERIFY(port > 0 && port != 5060);
            holder.close();
        }
        if (holder.bind(QHostAddress::LocalHost, 5060)) {
            holder.close();
            QCOMPARE(rtc::chooseSipPort(QStringLiteral("127.0.0.1")), 5060);
        }
    }

    void routesToLoopbackServersFromLoopback() {
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("127.0.0.1:5070")),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("127.0.0.1")),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("localhost:5070")),
                 QStringLiteral("127.0.0.1"));
        // Names are left to the engine's own resolver, so the window never waits on DNS here.
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("sip.example.invalid")), QString());
        QCOMPARE(rtc::localAddressTowards(QString()), QString());
    }

    void listensWhereItSays() {
        rtc::LinphoneClient client;
        client.Initialize();
        client.ListenForIncomingSessions(rtc::RTCLM_BOTH);
        QVERIFY(client.sipPort() > 0);
        QUdpSocket probe;
        QVERIFY2(!probe.bind(QHostAddress::AnyIPv4, client.sipPort()),
                 "the engine is not listening");

        // A message wakes the engine: an OPTIONS is answered with the slow tick out of the way.
        // One with more Via lines than any path has, sent first, is dropped unread: the only
        // answer is to the plain one.
        QCOMPARE(client.sipSocketsWatched(), 1);
        client.setSlowTick(3600 * 1000);
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        auto options = [&](const char *id, const QByteArray &extra) {
            return QStringLiteral("OPTIONS sip:kirrow@127.0.0.1:%1 SIP/2.0\r\n"
                                  "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bK-%3;rport\r\n")
                       .arg(client.sipPort())
                       .arg(probe.localPort())
                       .arg(QLatin1String(id))
                       .toLatin1() +
                   extra +
                   "Max-Forwards: 70\r\nTo: <sip:kirrow@127.0.0.1>\r\n"
                   "From: <sip:probe@127.0.0.1>;tag=probe\r\nCall-ID: " +
                   id + "@127.0.0.1\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
        };
        const QByteArray vias =
            QByteArray("Via: SIP/2.0/UDP 127.0.0.2:5060;branch=z9hG4bK-many\r\n").repeated(100);
        probe.writeDatagram(options("many-vias", vias), QHostAddress::LocalHost,
                            quint16(client.sipPort()));
        probe.writeDatagram(options("wake-1", {}), QHostAddress::LocalHost,
                            quint16(client.sipPort()));
        QList<QByteArray> answers;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (probe.hasPendingDatagrams())
                    answers << probe.receiveDatagram().data();
                return !answers.isEmpty();
            }(),
            5000);
        QVERIFY(answers.first().startsWith("SIP/2.0 200"));
        QVERIFY(answers.first().contains("Call-ID: wake-1@"));
        QCOMPARE(client.sipDatagramsDropped(), quint64(1));
    }

    // Registered or not, an engine with nothing to do runs on the idle tick, not ten times a
    // second; a message arriving runs it at once all the same (listensWhereItSays).
    void restsWhenIdle() {
        rtc::LinphoneClient client;
        client.Initialize();
        QTRY_VERIFY_WITH_TIMEOUT(client.tickInterval() >= 1000, 10000);
    }

    // What a datagram may cost before the engine reads it: real messages pass, the costly and the
    // self-contradicting are dropped.
    void screensCostlyDatagrams_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("verdict");
        const QByteArray head = "INVITE sip:1001@127.0.0.1 SIP/2.0\r\n"
                                "Via: SIP/2.0/UDP 127.0.0.1:5070;branch=z9hG4bK-1\r\n"
                                "v: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK-2, "
                                "SIP/2.0/UDP 127.0.0.1:5090;branch=z9hG4bK-3\r\n"
                                "Call-ID: a@b\r\nContent-Type: application/sdp\r\n";
        const QByteArray sdp = "v=0\r\nm=audio 4000 RTP/AVP 0 8 101\r\na=rtpmap:0 PCMU/8000\r\n";
        auto message = [&](const QByteArray &extra, const QByteArray &length,
                           const QByteArray &body) {
            return head + extra + "Content-Length: " + length + "\r\n\r\n" + body;
        };
        using V = rtc::SipVerdict;
        const QByteArray length = QByteArray::number(sdp.size());
        QTest::newRow("an INVITE") << message({}, length, sdp) << int(V::Pass);
        QTest::newRow("compact length") << head + "l: 0\r\n\r\n" << int(V::Pass);
        QTest::newRow("no body") << message({}, "0", {}) << int(V::Pass);
        QTest::newRow("70 Vias") << message(
                                        QByteArray("Via: SIP/2.0/UDP 10.0.0.1\r\n").repeated(67),
                                        length, sdp)
                                 << int(V::Pass);
        QTest::newRow("71 Vias, some in one line")
            << message(QByteArray("Via: SIP/2.0/UDP 10.0.0.1\r\n").repeated(68), length, sdp)
            << int(V::TooManyVias);
        QTest::newRow("length beyond the body")
            << message({}, "4000", sdp) << int(V::BadContentLength);
        // Lines ended by LF alone, which the engine reads as well.
        const auto bare = [](QByteArray text) { return text.replace("\r\n", "\n"); };
        QTest::newRow("LF only") << bare(message({}, QByteArray::number(bare(sdp).size()), sdp))
                                 << int(V::Pass);
        QTest::newRow("LF only, length beyond the body")
            << bare(message({}, "4000", sdp)) << int(V::BadContentLength);
        QTest::newRow("length not a number")
            << message({}, "many", sdp) << int(V::BadContentLength);
        QByteArray formats;
        for (int i = 0; i < 3000; ++i)
            formats += " 96";
        const QByteArray wide = "m=audio 4000 RTP/AVP" + formats + "\r\n";
        QTest::newRow("3000 formats")
            << message({}, QByteArray::number(wide.size()), wide) << int(V::LineTooLong);
        const QByteArray big =
            QByteArray("a=x:").append(QByteArray(1000, 'y')).append("\r\n").repeated(17);
        QTest::newRow("17 KiB") << message({}, QByteArray::number(big.size()), big)
                                << int(V::TooLarge);
    }
    void screensCostlyDatagrams() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, verdict);
        QCOMPARE(int(rtc::screenSipDatagram(datagram, datagram.size())), verdict);
        // Seen through a buffer shorter than the datagram: never passed on as whole.
        QCOMPARE(int(rtc::screenSipDatagram(QByteArrayView(datagram).first(10), datagram.size())),
                 datagram.size() > 10 ? int(rtc::SipVerdict::TooLarge) : verdict);
    }

    // The engine's own timers run with nothing else to wake it: an INVITE that goes unanswered
    // is sent again (after half a second, then one more), as SIP over UDP requires.
    void unansweredInviteIsSentAgain() {
        rtc::LinphoneClient client;
        client.Initialize();
        client.ListenForIncomingSessions(rtc::RTCLM_BOTH);
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        const rtc::IRTCSessionPtr session = client.CreateSession(rtc::RTCST_PC_TO_PC, {}, {}, 0);
        session->AddParticipant(QStringLiteral("sip:600@127.0.0.1:%1").arg(silent.localPort()),
                                QString());
        int invites = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (silent.hasPendingDatagrams())
                    invites += silent.receiveDatagram().data().startsWith("INVITE ") ? 1 : 0;
                return invites >= 3;
            }(),
            10000);
        session->Terminate(rtc::RTCTR_NORMAL);
    }

    // What the engine does with sound devices, which the client works around; pinned so that an
    // engine that changes it is noticed.
    void engineDeviceBehaviourTheClientWorksAround() {
        rtc::LinphoneClient client;
        client.Initialize(); // the factory's folders, as the client sets them
        const EnginePtr engine = startedEngine();
        LinphoneCore *core = engine.get();
        QVERIFY(core);
        const QByteArray defaultCapture = linphone_core_get_capture_device(core);

        // The devices are the ones found at start, until the engine is told to look again; then
        // a part whose device has gone is quietly put back on the default.
        REQUIRE_TEST_DESKTOP();
        soundcheck::PulseModule mic("module-null-source",
                                    {"source_name=kirrow_pin_mic", "description=KirrowPinMic"});
        QVERIFY2(mic.isLoaded(), qPrintable(mic.error()));
        QVERIFY(engineDeviceId(core, "KirrowPinMic").isEmpty());
        linphone_core_reload_sound_devices(core);
        const QByteArray id = engineDeviceId(core, "KirrowPinMic").toUtf8();
        QVERIFY(!id.isEmpty());
        QCOMPARE(linphone_core_set_capture_device(core, id.constData()), 0);
        QCOMPARE(QByteArray(linphone_core_get_capture_device(core)), id);
        mic.unload();
        linphone_core_reload_sound_devices(core);
        QCOMPARE(QByteArray(linphone_core_get_capture_device(core)), defaultCapture);

        // A device it does not have is taken with success, and the default used in its place.
        QCOMPARE(linphone_core_set_capture_device(core, "PulseAudio Unknown: KirrowPinMic"), 0);
        QCOMPARE(QByteArray(linphone_core_get_capture_device(core)), defaultCapture);

        // An echo test that starts is told by 1; a second start, or a stop with none, by -1.
        QCOMPARE(linphone_core_start_echo_tester(core, 16000), 1);
        QCOMPARE(linphone_core_start_echo_tester(core, 16000), -1);
        QCOMPARE(linphone_core_stop_echo_tester(core), 1);
        QCOMPARE(linphone_core_stop_echo_tester(core), -1);

        // A recorder that is not recording reads as full scale.
        LinphoneRecorderParams *params = linphone_core_create_recorder_params(core);
        LinphoneRecorder *recorder = linphone_core_create_recorder(core, params);
        linphone_recorder_params_unref(params);
        QCOMPARE(linphone_recorder_get_capture_volume(recorder), 1.0f);
        linphone_recorder_unref(recorder);
    }

    // The devices through the client: listed with what they can do and chosen for a part; one
    // that is not there, cannot do the part or has gone leaves the part on the default device.
    void devicesAreChosenAndFallBackToTheDefault() {
        REQUIRE_TEST_DESKTOP();
        soundcheck::PulseModule mic("module-null-source",
                                    {"source_name=kirrow_test_mic", "description=KirrowTestMic"});
        QVERIFY2(mic.isLoaded(), qPrintable(mic.error()));
        rtc::LinphoneClient client;
        client.Initialize();
        const QList<rtc::AudioDevice> devices = client.AudioDevices();
        const QString id = deviceId(devices, "KirrowTestMic");
        QVERIFY(devices.contains(rtc::AudioDevice{id, "KirrowTestMic", false, true}));
        QCOMPARE(client.PreferredAudioDevice(rtc::RTCAD_MICROPHONE), QString());

        QVERIFY(client.SetPreferredAudioDevice(rtc::RTCAD_MICROPHONE, id));
        QCOMPARE(client.PreferredAudioDevice(rtc::RTCAD_MICROPHONE), id);
        QVERIFY(!client.SetPreferredAudioDevice(rtc::RTCAD_RINGER, id));
        QCOMPARE(client.PreferredAudioDevice(rtc::RTCAD_RINGER), QString());
        QVERIFY(!client.SetPreferredAudioDevice(rtc::RTCAD_SPEAKER, "PulseAudio Unknown: none"));
        QCOMPARE(client.PreferredAudioDevice(rtc::RTCAD_SPEAKER), QString());
        client.StartCaptureMeter();
        QTRY_VERIFY(soundcheck::recordedSources().contains("kirrow_test_mic"));
        client.StopCaptureMeter();
        QTRY_VERIFY(soundcheck::recordedSources().isEmpty());

        mic.unload();
        QVERIFY(deviceId(client.AudioDevices(), "KirrowTestMic").isEmpty());
        QCOMPARE(client.PreferredAudioDevice(rtc::RTCAD_MICROPHONE), QString());
        client.StartCaptureMeter();
        QTRY_VERIFY(!soundcheck::recordedSources().isEmpty());
        client.StopCaptureMeter();
    }

    // The wizard's tries and the ring, heard on the devices chosen for them: the test sound, the
    // echo test playing back what the microphone hears, the meter reading its level.
    void testsAndRingSoundOnTheChosenDevices() {
        REQUIRE_TEST_DESKTOP();
        soundcheck::PulseModule speaker(
            "module-null-sink",
            {"sink_name=kirrow_test_speaker", "sink_properties=device.description=KirrowSpeaker"});
        QVERIFY2(speaker.isLoaded(), qPrintable(speaker.error()));
        soundcheck::PulseModule tone("module-sine-source",
                                     {"source_name=kirrow_test_tone", "frequency=440"});
        QVERIFY2(tone.isLoaded(), qPrintable(tone.error()));
        rtc::LinphoneClient client;
        client.SetRingSounds(calls::ringSounds());
        client.Initialize();
        const QList<rtc::AudioDevice> devices = client.AudioDevices();
        QVERIFY(
            client.SetPreferredAudioDevice(rtc::RTCAD_SPEAKER, deviceId(devices, "KirrowSpeaker")));
        QVERIFY(client.SetPreferredAudioDevice(rtc::RTCAD_MICROPHONE,
                                               deviceId(devices, "Sine source at 440 Hz")));
        soundcheck::SinkRecorder heard("kirrow_test_speaker");
        QVERIFY2(heard.start(), qPrintable(heard.error()));
        soundcheck::SinkRecorder elsewhere;
        QVERIFY2(elsewhere.start(), qPrintable(elsewhere.error()));
        // Whether, within ten seconds, what is heard from now on passes the check.
        const auto hears = [&heard](const std::function<bool(const QByteArray &)> &check) {
            const qsizetype from = heard.size();
            return QTest::qWaitFor(
                [&] {
                    heard.waitForMore(100);
                    return check(heard.samples().mid(from));
                },
                10000);
        };
        const auto tonePair = [](double low, double high) {
            return [=](const QByteArray &samples) {
                return soundcheck::containsTonePair(samples, soundcheck::kRate, low, high);
            };
        };
        // Quiet for longer than the ring's own pause.
        const auto quietAgain = [](const QByteArray &samples) {
            const qsizetype quiet = soundcheck::kRate * 3 / 2;
            return samples.size() >= quiet &&
                   soundcheck::isSilent(samples.right(quiet), soundcheck::kRate);
        };
        const auto heardLast = [&heard] {
            return soundcheck::describe(heard.samples().right(2 * soundcheck::kRate),
                                        soundcheck::kRate, {400, 440, 450, 523, 784});
        };

        client.PlayTestSound();
        QVERIFY2(hears(tonePair(523, 784)), qPrintable(heardLast()));
        QVERIFY(hears(quietAgain));

        client.StartCaptureMeter();
        QTRY_VERIFY(client.CaptureLevel() > 0.1);
        client.StartEchoTest();
        QVERIFY2(hears([](const QByteArray &samples) {
                     return samples.size() > soundcheck::kRate / 2 &&
                            mostlyTone(samples.right(soundcheck::kRate / 2), 440);
                 }),
                 qPrintable(heardLast()));
        client.StopEchoTest();
        QVERIFY(hears(quietAgain));
        // The meter follows the microphone: the default one hears nothing.
        QVERIFY(client.SetPreferredAudioDevice(rtc::RTCAD_MICROPHONE, QString()));
        QTRY_VERIFY(client.CaptureLevel() < 0.01);
        client.StopCaptureMeter();
        QCOMPARE(client.CaptureLevel(), 0.0);

        QVERIFY(
            client.SetPreferredAudioDevice(rtc::RTCAD_RINGER, deviceId(devices, "KirrowSpeaker")));
        client.PlayRing(rtc::RTCRT_PHONE, true);
        QVERIFY2(hears(tonePair(400, 450)), qPrintable(heardLast()));
        client.PlayRing(rtc::RTCRT_PHONE, false);
        QVERIFY(hears(quietAgain));
        // None of it on the default device.
        elsewhere.waitForMore(100);
        QVERIFY2(soundcheck::isSilent(elsewhere.samples(), soundcheck::kRate),
                 qPrintable(soundcheck::describe(elsewhere.samples(), soundcheck::kRate,
                                                 {400, 440, 450, 523, 784})));
    }

    // The media settings that keep a call's delay short, read back from an engine they were
    // applied to: the engine's defaults (a jitter buffer that may grow to 500 ms, Opus not first)
    // would bring back a delay of half a second and more; the echo canceller stays on.
    void mediaTuningHoldsInTheEngine() {
        rtc::LinphoneClient client;
        client.Initialize(); // the factory's folders, as the client sets them
        const EnginePtr core = startedEngine();
        QVERIFY(core);
        bctbx_list_t *before = linphone_core_get_audio_payload_types(core.get());
        const size_t codecs = bctbx_list_size(before);
        bctbx_list_free_with_data(
            before, reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));

        rtc::applyMediaTuning(core.get());
        QVERIFY(linphone_core_echo_cancellation_enabled(core.get()));
        QCOMPARE(linphone_core_get_audio_jittcomp(core.get()), 20);
        QVERIFY(linphone_core_audio_adaptive_jittcomp_enabled(core.get()));
        QCOMPARE(linphone_config_get_int(linphone_core_get_config(core.get()), "rtp",
                                         "jitter_buffer_max_size", 0),
                 150);
        bctbx_list_t *after = linphone_core_get_audio_payload_types(core.get());
        QCOMPARE(bctbx_list_size(after), codecs);
        const QByteArray first =
            linphone_payload_type_get_mime_type(static_cast<LinphonePayloadType *>(after->data));
        bctbx_list_free_with_data(
            after, reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));
        QCOMPARE(first.toLower(), QByteArray("opus"));
    }

    void operationsNeedAnInitializedClient() {
        rtc::LinphoneClient client;
        try {
            client.provisioning()->CreateProfile(QStringLiteral("<provision/>"));
            QFAIL("CreateProfile worked without Initialize");
        } catch (const rtc::RtcError &error) {
            QCOMPARE(error.number(), long(rtc::RTC_E_NOT_INITIALIZED));
        }
        QVERIFY_THROWS_EXCEPTION(rtc::RtcError, client.AudioDevices());
        QCOMPARE(client.CaptureLevel(), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestLinphoneClient)
#include "tst_linphoneclient.moc"
