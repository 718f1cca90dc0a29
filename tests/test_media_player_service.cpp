// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's media-player interface on a private session bus, seen
// from a second connection as a sound menu or controller would see it.

#include "desktop/media_player_service.h"
#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/station_line.h"
#include "tests/support/tick.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using testsupport::StationLine;
using testsupport::Tick;

namespace {

const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// A variant as it arrives from the bus: maps come as D-Bus arguments.
QVariantMap ToMap(const QVariant &value) {
    return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
}

} // namespace

// Records the player's PropertiesChanged signals.
class ChangeRecorder : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString &interface, const QVariantMap &properties, const QStringList &) {
        if (interface == kPlayer) {
            changes.append(properties);
        }
    }
};

class TestMediaPlayerService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void introspectionShowsBothInterfaces();
    void controlsShareTheButtonsFlag_data();
    void controlsShareTheButtonsFlag();
    void volumeMovesSlider1AndPlayer();
    void slider1MovesVolume();
    void stationChangeAnnouncesMetadata_data();
    void stationChangeAnnouncesMetadata();

private:
    QDBusMessage call(const QString &interface, const QString &method,
                      const QVariantList &arguments = {});
    QVariant get(const QString &interface, const QString &property);
    void startStation(const QString &id) {
        window_->session.startStation(id, PlaybackSession::PlayReport::None);
    }

    QDBusConnection client_ = QDBusConnection(QString());
    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
    std::unique_ptr<desktop::MediaPlayerService> service_;
    std::unique_ptr<ChangeRecorder> recorder_;
};

void TestMediaPlayerService::initTestCase() {
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    client_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    QVERIFY(client_.isConnected());
}

void TestMediaPlayerService::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    window_->directory.AddStationLine(StationLine("12", "音乐台"));
    service_ = std::make_unique<desktop::MediaPlayerService>(window_->session, window_->form,
                                                             QDBusConnection::sessionBus());
    QVERIFY(QDBusConnection::sessionBus().registerService(desktop::kMprisBusName));
    recorder_ = std::make_unique<ChangeRecorder>();
    QVERIFY(client_.connect(desktop::kMprisBusName, desktop::kMprisObjectPath, kProperties,
                            QStringLiteral("PropertiesChanged"), recorder_.get(),
                            SLOT(changed(QString, QVariantMap, QStringList))));
}

void TestMediaPlayerService::cleanup() {
    QDBusConnection::sessionBus().unregisterService(desktop::kMprisBusName);
    recorder_.reset();
    service_.reset();
    window_.reset();
    platform_.reset();
}

QDBusMessage TestMediaPlayerService::call(const QString &interface, const QString &method,
                                          const QVariantList &arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        desktop::kMprisBusName, desktop::kMprisObjectPath, interface, method);
    message.setArguments(arguments);
    // The service answers from this thread's event loop, so the call must not block it.
    const QDBusPendingCall pending = client_.asyncCall(message);
    if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 5000)) {
        return {}; // an invalid message: no answer
    }
    return pending.reply();
}

QVariant TestMediaPlayerService::get(const QString &interface, const QString &property) {
    const QDBusMessage reply = call(kProperties, QStringLiteral("Get"), {interface, property});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return {};
    }
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

void TestMediaPlayerService::introspectionShowsBothInterfaces() {
    const QDBusMessage reply =
        call(QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QString xml = reply.arguments().value(0).toString();
    QVERIFY(xml.contains(QStringLiteral("<interface name=\"org.mpris.MediaPlayer2\">")));
    QVERIFY(xml.contains(QStringLiteral("<interface name=\"org.mpris.MediaPlayer2.Player\">")));
    QCOMPARE(get(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("Quorvel收音机"));
}

void TestMediaPlayerService::controlsShareTheButtonsFlag_data() {
    // A sequence of presses: "button" is a click on the play/stop button,
    // anything else a method called over the bus. Only the button changes a
    // face (it hides Image8, its face under the pointer).
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<int>("playerCalls"); // stop and play calls together
    QTest::addColumn<bool>("stoppedByButton");
    QTest::addColumn<QString>("status");
    QTest::newRow("PlayPause stops") << QStringList{"PlayPause"} << 1 << true << "Stopped";
    QTest::newRow("PlayPause twice resumes")
        << QStringList{"PlayPause", "PlayPause"} << 2 << false << "Playing";
    QTest::newRow("Pause twice stops once")
        << QStringList{"Pause", "Pause"} << 1 << true << "Stopped";
    QTest::newRow("Play while playing changes nothing")
        << QStringList{"Play"} << 0 << false << "Playing";
    QTest::newRow("Play after the button stopped")
        << QStringList{"button", "Play"} << 2 << false << "Playing";
    QTest::newRow("button after Stop resumes")
        << QStringList{"Stop", "button"} << 2 << false << "Playing";
}

void TestMediaPlayerService::controlsShareTheButtonsFlag() {
    QFETCH(QStringList, presses);
    QFETCH(int, playerCalls);
    QFETCH(bool, stoppedByButton);
    QFETCH(QString, status);
    startStation(QStringLiteral("12"));
    testsupport::FakeMediaPlayer &player = *platform_->player;
    player.state = platform::PlayState::Playing;
    auto *timer1 = window_->control<QTimer>("Timer1");
    Tick(timer1);
    const auto faces = [this] {
        QList<bool> hidden;
        for (const Picture *face : window_->form.findChildren<Picture *>()) {
            hidden.append(face->isHidden());
        }
        return hidden;
    };
    const QList<bool> facesBefore = faces();
    for (const QString &press : presses) {
        const bool wasStopped = window_->session.stoppedByButton();
        if (press == QLatin1String("button")) {
            QMetaObject::invokeMethod(window_->control<Picture>("Image9"), "clicked");
        } else {
            QCOMPARE(call(kPlayer, press).type(), QDBusMessage::ReplyMessage);
        }
        if (wasStopped && !window_->session.stoppedByButton()) {
            player.state = platform::PlayState::Playing; // the stream comes back
        }
    }
    QCOMPARE(window_->session.stoppedByButton(), stoppedByButton);
    QCOMPARE(player.stopCalls + player.playCalls, playerCalls);
    const bool buttonPressed = presses.contains(QStringLiteral("button"));
    QCOMPARE(window_->control<Picture>("Image8")->isHidden(), buttonPressed);
    if (!buttonPressed) {
        QCOMPARE(faces(), facesBefore);
    }
    Tick(timer1);
    QCOMPARE(get(kPlayer, QStringLiteral("PlaybackStatus")).toString(), status);
    // The last status announced is the status now.
    const auto lastStatus = [this] {
        for (auto change = recorder_->changes.crbegin(); change != recorder_->changes.crend();
             ++change) {
            if (change->contains(QStringLiteral("PlaybackStatus"))) {
                return change->value(QStringLiteral("PlaybackStatus")).toString();
            }
        }
        return QString();
    };
    QTRY_COMPARE(lastStatus(), status);
}

void TestMediaPlayerService::volumeMovesSlider1AndPlayer() {
    const QDBusMessage reply =
        call(kProperties, QStringLiteral("Set"),
             {kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(0.35))});
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(window_->control<QScrollBar>("Slider1")->value(), 35);
    QCOMPARE(platform_->player->volume(), 35);
    QCOMPARE(get(kPlayer, QStringLiteral("Volume")).toDouble(), 0.35);
    QTRY_COMPARE(recorder_->changes.size(), 1);
    QCOMPARE(recorder_->changes.first().value(QStringLiteral("Volume")).toDouble(), 0.35);
}

// The volume is the session's: the slider's thumb moves it, its value alone
// (keyboard, track) does not.
void TestMediaPlayerService::slider1MovesVolume() {
    auto *slider = window_->control<QScrollBar>("Slider1");
    slider->setValue(30);
    QCOMPARE(get(kPlayer, QStringLiteral("Volume")).toDouble(), 0.7);
    slider->setSliderDown(true);
    slider->setSliderPosition(20);
    slider->setSliderDown(false);
    QCOMPARE(get(kPlayer, QStringLiteral("Volume")).toDouble(), 0.2);
    QTRY_COMPARE(recorder_->changes.size(), 1);
    QCOMPARE(recorder_->changes.first().value(QStringLiteral("Volume")).toDouble(), 0.2);
}

void TestMediaPlayerService::stationChangeAnnouncesMetadata_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("trackId");
    QTest::newRow("digits") << "7"
                            << "/org/quorvel/Radio/Station/7";
    // Only letters, digits and "_" may stand in an object path.
    QTest::newRow("punctuation") << "a-b_c"
                                 << "/org/quorvel/Radio/Station/a_2Db_5Fc";
    QTest::newRow("Chinese") << QStringLiteral("频") << "/org/quorvel/Radio/Station/_E9_A2_91";
}

void TestMediaPlayerService::stationChangeAnnouncesMetadata() {
    QFETCH(QString, id);
    QFETCH(QString, trackId);
    window_->directory.AddStationLine(StationLine(id, QStringLiteral("新闻台")));
    const QVariantMap none = ToMap(get(kPlayer, QStringLiteral("Metadata")));
    QCOMPARE(none.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
             QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    startStation(QStringLiteral("12"));
    QTRY_COMPARE(recorder_->changes.size(), 1);
    startStation(id);
    QTRY_COMPARE(recorder_->changes.size(), 2);
    const QVariantMap metadata = ToMap(recorder_->changes.last().value(QStringLiteral("Metadata")));
    QCOMPARE(metadata.value(QStringLiteral("xesam:album")).toString(), QStringLiteral("新闻台"));
    QCOMPARE(metadata.value(QStringLiteral("quorvel:id")).toString(), id);
    QCOMPARE(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
             trackId);
    // Nothing new: nothing more announced.
    auto *timer1 = window_->control<QTimer>("Timer1");
    Tick(timer1);
    QCOMPARE(ToMap(get(kPlayer, QStringLiteral("Metadata"))).value(QStringLiteral("quorvel:id")),
             QVariant(id));
    QCOMPARE(recorder_->changes.size(), 2);
    // The station's now-playing title, once it sends one while it sounds, is
    // announced as the title; once it no longer sounds the name is again.
    QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("新闻台"));
    const auto lastTitle = [this] {
        return ToMap(recorder_->changes.last().value(QStringLiteral("Metadata")))
            .value(QStringLiteral("xesam:title"))
            .toString();
    };
    platform_->player->title = QStringLiteral("晚间新闻");
    platform_->player->state = platform::PlayState::Playing;
    Tick(timer1);
    QTRY_COMPARE(recorder_->changes.size(), 3);
    QCOMPARE(lastTitle(), QStringLiteral("晚间新闻"));
    platform_->player->state = platform::PlayState::Stopped;
    Tick(timer1);
    QTRY_COMPARE(recorder_->changes.size(), 4);
    QCOMPARE(lastTitle(), QStringLiteral("新闻台"));
}

QTEST_MAIN(TestMediaPlayerService)
#include "test_media_player_service.moc"
