// SPDX-License-Identifier: GPL-3.0-or-later

// The player's own platform code against the real directory server: the
// hidden browser loads the directory, the About window leaves a message on the
// board, the HTTP request reports a play, and the media player plays a station
// and the fallback.

#include "about_window/form2.h"
#include "main_window/picture.h"
#include "platform/curl_http_request.h"
#include "platform/html_browser.h"
#include "platform/vlc_media_player.h"
#include "search_window/form3.h"
#include "station_data/station_line.h"
#include "station_data/text_between.h"
#include "tests/support/audio_tap.h"
#include "tests/support/directory_server_process.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/table_cells.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using testsupport::DirectoryServerProcess;

namespace {

constexpr int kLoadWaitMs = 10000;
constexpr int kPlayWaitMs = 15000;
constexpr qint64 kSamplesPerSecond = 44100 * 2;

} // namespace

class TestDirectoryServerEndToEnd : public QObject {
    Q_OBJECT

private:
    QString url(const QString &path) const {
        return QString("http://127.0.0.1:%1%2").arg(server_.port()).arg(path);
    }

    // Loads url in the browser and waits for the document.
    void load(const QString &address) {
        QSignalSpy completions(&browser_, &platform::WebBrowser::DocumentComplete);
        browser_.Navigate2(address);
        QTRY_COMPARE_WITH_TIMEOUT(completions.size(), 1, kLoadWaitMs);
        QCOMPARE(browser_.httpStatus(), 200);
    }

    // The directory as the player reads it: the station lines by id.
    QMap<QString, StationCells> directory() {
        QMap<QString, StationCells> stations;
        load(url("/radio/1.59.asp"));
        const QStringList lines = browser_.BodyText().split("\r\n");
        if (lines.value(0) != "(zebok)") {
            return stations;
        }
        for (const QString &line : lines) {
            if (const auto cells = CellsOfStationLine(line)) {
                stations.insert(cells->id, *cells);
                urls_.insert(cells->id, Module1::TextBetween(line, "(url)", "(/url)"));
            }
        }
        return stations;
    }

private slots:
    void initTestCase() { QVERIFY2(server_.start(), server_.errors().constData()); }

    void loadsTheDirectory() {
        const QMap<QString, StationCells> stations = directory();
        QVERIFY(stations.size() >= 28);
        QCOMPARE(stations["101"].name, QString::fromUtf8("北京星光音乐台"));
        QCOMPARE(stations["101"].local, QString::fromUtf8("北京"));
        QCOMPARE(stations["101"].hot, "2380");
        QCOMPARE(urls_["101"], url("/stream/101.mp3"));
    }

    void reportsAPlay() {
        const int before = directory()["211"].hot.toInt();
        platform::CurlHttpRequest request;
        request.Open("GET", url("/radio/hot.asp?id=211"));
        QVERIFY(request.send());
        QCOMPARE(request.ReadyState(), 4);
        QCOMPARE(request.status(), 200);
        QCOMPARE(directory()["211"].hot.toInt(), before + 1);
    }

    // A station imported from the community database's export, while the
    // server runs, is found by the player's quick search under the region
    // word of its province.
    void quickSearchFindsAnImportedStation() {
        QTemporaryDir files;
        QFile exported(files.filePath("stations.json"));
        QVERIFY(exported.open(QIODevice::WriteOnly));
        exported.write("[{\"stationuuid\": \"e2e-1\", \"name\": \"南宁交通之声\", "
                       "\"url\": \"http://127.0.0.1:1/nn\", \"countrycode\": \"CN\", "
                       "\"state\": \"Guangxi Zhuang Autonomous Region\", \"lastcheckok\": 1}]");
        ;
        exported.close();
        QProcess import;
        import.start(QUORVEL_DIRECTORY_BINARY,
                     {"import", "--data", server_.dataDir(), exported.fileName()});
        QVERIFY(import.waitForFinished(kLoadWaitMs));
        QCOMPARE(import.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            server_.get("/radio/1.59.asp").find("南宁交通之声") != std::string::npos, kLoadWaitMs);

        testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(url("")));
        testsupport::MainWindow window(platform);
        window.directory.setCacheFolders({files.path()});
        window.control<QTimer>("Timer1")->stop();
        window.control<QTimer>("Timer3")->stop();
        QTRY_VERIFY_WITH_TIMEOUT(window.directory.serverReady(), kLoadWaitMs);
        QMetaObject::invokeMethod(window.control<Picture>("Image10"), "clicked");
        QVERIFY(window.directory.channelsFetched());
        window.form.show();
        QMetaObject::invokeMethod(window.control<Picture>("Image5"), "clicked");
        auto *search = window.form.findChild<Form3 *>();
        QVERIFY(search);
        search->Text1->setCurrentIndex(search->Text1->findText(QStringLiteral("广西")));
        QTest::mouseClick(search->Command1, Qt::LeftButton);
        QVERIFY2(testsupport::Column(search->ListView1, 1).contains(QStringLiteral("南宁交通之声")),
                 qPrintable(testsupport::Column(search->ListView1, 1).join(' ')));
    }

    void readsAnAnnouncement() {
        platform::CurlHttpRequest request;
        request.Open("GET", url("/radio/new.asp"));
        QVERIFY(request.send());
        QVERIFY(
            !Module1::TextBetween(request.responseText(), "(radiomsg)", "(/radiomsg)").isEmpty());
    }

    void leavesAMessage_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("stored");
        QTest::newRow("message") << QString::fromUtf8("声音很清楚 <好> & 谢谢")
                                 << QString::fromUtf8("发送成功！感谢你的支持") << true;
        QTest::newRow("only spaces")
            << QString("   ") << QString::fromUtf8("发送失败，请稍后再试") << false;
    }
    // The About window posts through the server's own board page.
    void leavesAMessage() {
        QFETCH(QString, message);
        QFETCH(QString, box);
        QFETCH(bool, stored);
        const QString database = server_.file("directory.sqlite3");
        const QString query = "SELECT body FROM messages";
        QList<QByteArray> expected = testsupport::DatabaseColumn(database, query);
        if (stored) {
            expected.append(message.toUtf8());
        }
        testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(url("")));
        Form2 form(platform);
        QTRY_COMPARE_WITH_TIMEOUT(form.WebBrowser1->LocationURL(), url("/maiz.asp"), kLoadWaitMs);
        form.Text2->setPlainText(message);
        form.Command2->click();
        QTRY_COMPARE_WITH_TIMEOUT(platform.boxes.shown.size(), 1, kLoadWaitMs);
        QCOMPARE(platform.boxes.shown.first().text, box);
        if (!stored) {
            QCOMPARE(form.Text2->toPlainText(), message);
        }
        QCOMPARE(testsupport::DatabaseColumn(database, query), expected);
    }

    void hearsAStation_data() {
        QTest::addColumn<QString>("station"); // an id of the directory, or a URL path
        QTest::newRow("station from the directory") << "101";
        QTest::newRow("another station") << "381";
        QTest::newRow("fallback playlist") << "/fallback.asx";
        QTest::newRow("live HLS station") << "401";
    }
    void hearsAStation() {
        QFETCH(QString, station);
        if (urls_.isEmpty()) {
            directory();
        }
        const QString address = station.startsWith('/') ? url(station) : urls_.value(station);
        QVERIFY(address.startsWith("http://127.0.0.1:"));
        testsupport::AudioTap tap;
        platform::VlcMediaPlayer player(QStringList{}, tap.hook());
        player.setURL(address);
        QTRY_COMPARE_WITH_TIMEOUT(player.playState(), platform::PlayState::Playing, kPlayWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(tap.levels().nonSilent > kSamplesPerSecond / 2, kPlayWaitMs);
        player.stop();
    }

private:
    DirectoryServerProcess server_;
    platform::HtmlBrowser browser_;
    QMap<QString, QString> urls_; // station URLs of the last directory read
};

QTEST_MAIN(TestDirectoryServerEndToEnd)

#include "test_directory_server_e2e.moc"
