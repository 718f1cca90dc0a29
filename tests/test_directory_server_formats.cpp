// SPDX-License-Identifier: GPL-3.0-or-later

// The directory server's text formats: the station and announcement files, the
// pages as the player's own HTML reader sees them, host handling, command
// line, ICY metadata and the generated sounds.

#include "directory_server/announcements.h"
#include "directory_server/data_folder.h"
#include "directory_server/icy_metadata.h"
#include "directory_server/options.h"
#include "directory_server/page_cache.h"
#include "directory_server/pages.h"
#include "directory_server/station_list.h"
#include "directory_server/streams.h"
#include "directory_server/text_rules.h"
#include "platform/html_document.h"
#include "station_data/station_line.h"
#include "station_data/text_between.h"

#include <QSet>
#include <QTest>

using namespace directory;

namespace {

// The 34 regions of the player's quick-search window.
const QStringList kRegions =
    QString::fromUtf8("北京 天津 上海 重庆 河北 山西 内蒙古 辽宁 吉林 黑龙江 江苏 浙江 "
                      "安徽 福建 江西 山东 河南 湖北 湖南 广东 广西 海南 四川 贵州 "
                      "云南 西藏 陕西 甘肃 宁夏 青海 新疆 香港 澳门 台湾")
        .split(' ');

QString Q(const std::string &text) {
    return QString::fromStdString(text);
}

// The lines of a page's text as the player's HTML reader renders them.
QStringList PageLines(const std::string &page) {
    const platform::HtmlDocument document(QByteArray::fromStdString(page),
                                          "http://127.0.0.1:8159/radio/1.59.asp",
                                          "text/html; charset=utf-8");
    return QString::fromUtf8(document.innerTextUtf8()).split("\r\n");
}

// Removes ICY metadata blocks from a stream; the blocks' contents go to titles.
std::string StripIcy(const std::string &stream, std::size_t interval, QList<QByteArray> &titles) {
    std::string audio;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t take = std::min(interval, stream.size() - at);
        audio += stream.substr(at, take);
        at += take;
        if (take < interval || at >= stream.size()) {
            break;
        }
        const std::size_t length = static_cast<unsigned char>(stream[at]) * 16;
        if (length > 0) {
            titles << QByteArray::fromStdString(stream.substr(at + 1, length));
        }
        at += 1 + length;
    }
    return audio;
}

} // namespace

class TestDirectoryServerFormats : public QObject {
    Q_OBJECT

private slots:
    void stationList_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("problem"); // part of the one problem reported, or empty
        QTest::newRow("plain") << QByteArray("101 | 北京 | 北京台 | /stream/101.mp3")
                               << QStringList{"101"} << "";
        QTest::newRow("comments, blanks, CR LF")
            << QByteArray("# list\r\n\r\n   \r\n 7|上海|上海台|http://127.0.0.1/a\r\n")
            << QStringList{"7"} << "";
        QTest::newRow("two stations")
            << QByteArray("1|a|A|/s\n2|b|B|/t|5\n") << QStringList{"1", "2"} << "";
        QTest::newRow("letters in id")
            << QByteArray("1a|a|A|/s") << QStringList{} << "line 1: the id";
        QTest::newRow("ten-digit id")
            << QByteArray("1234567890|a|A|/s") << QStringList{} << "the id";
        QTest::newRow("empty id") << QByteArray("|a|A|/s") << QStringList{} << "the id";
        QTest::newRow("too few fields")
            << QByteArray("1|a|A") << QStringList{} << "needs the fields";
        QTest::newRow("too many fields")
            << QByteArray("1|a|A|/s|1|key|2") << QStringList{} << "needs the fields";
        QTest::newRow("empty title") << QByteArray("1|a| |/s") << QStringList{} << "title is empty";
        QTest::newRow("closing marker in title")
            << QByteArray("1|a|A(/title)B|/s") << QStringList{} << "title holds the marker";
        QTest::newRow("opening marker in region")
            << QByteArray("1|(url)x|A|/s") << QStringList{} << "region holds the marker \"(url)\"";
        QTest::newRow("control character")
            << QByteArray("1|a|A\x01|/s") << QStringList{} << "control character";
        QTest::newRow("not utf-8")
            << QByteArray("1|a|\xB1\xB1\xBE\xA9|/s") << QStringList{} << "not UTF-8";
        QTest::newRow("relative url") << QByteArray("1|a|A|stream.mp3") << QStringList{} << "url";
        QTest::newRow("url with a space")
            << QByteArray("1|a|A|http://x/a b") << QStringList{} << "url";
        QTest::newRow("bare scheme") << QByteArray("1|a|A|http://") << QStringList{} << "url";
        QTest::newRow("bad heat") << QByteArray("1|a|A|/s|-3") << QStringList{} << "starting heat";
        QTest::newRow("repeated id") << QByteArray("1|a|A|/s\n1|b|B|/t") << QStringList{"1"}
                                     << "line 2: the id 1 is already used";
    }
    void stationList() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, ids);
        QFETCH(QString, problem);
        const StationList list = ParseStationList(text.toStdString());
        QStringList parsed;
        for (const Station &station : list.stations) {
            parsed << Q(station.id);
        }
        QCOMPARE(parsed, ids);
        QCOMPARE(list.problems.size(), problem.isEmpty() ? 0u : 1u);
        if (!problem.isEmpty()) {
            QVERIFY2(Q(list.problems.front()).contains(problem), list.problems.front().c_str());
        }
    }

    void stationFieldsAreNormalised() {
        const StationList list =
            ParseStationList("  42 |\t广东 |  珠江   经济\t台 | /stream/42.mp3 | 0099 ");
        QCOMPARE(list.stations.size(), 1u);
        const Station &station = list.stations.front();
        QCOMPARE(Q(station.region), QString::fromUtf8("广东"));
        QCOMPARE(Q(station.title), QString::fromUtf8("珠江 经济 台"));
        QCOMPARE(station.startingHeat, 99);
    }

    void demoList() {
        const StationList list = ParseStationList(kDemoStations);
        QVERIFY(list.problems.empty());
        QVERIFY(list.stations.size() >= 28 && list.stations.size() <= 40);
        QSet<QString> regions;
        QSet<QString> titles;
        int hlsStations = 0;
        for (const Station &station : list.stations) {
            QVERIFY2(kRegions.contains(Q(station.region)), station.region.c_str());
            QVERIFY2(Q(station.title).contains(Q(station.region)), station.title.c_str());
            if (station.url == "/hls/live.m3u8")
                ++hlsStations;
            else
                QCOMPARE(Q(station.url), "/stream/" + Q(station.id) + ".mp3");
            regions << Q(station.region);
            titles << Q(station.title);
        }
        QCOMPARE(hlsStations, 1); // the server's HLS broadcast
        QVERIFY(regions.size() >= 25);
        QCOMPARE(titles.size(), qsizetype(list.stations.size()));
        QVERIFY(!ParseAnnouncements(kDemoAnnouncements).texts.empty());
        QVERIFY(ParseAnnouncements(kDemoAnnouncements).problems.empty());
    }

    void utf8_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("abc") << true;
        QTest::newRow("chinese") << QByteArray("北京") << true;
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("last code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
        QTest::newRow("gbk") << QByteArray("\xB1\xB1\xBE\xA9") << false;
        QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
        QTest::newRow("cut short") << QByteArray("\xE5\x8C") << false;
        QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("bad lead") << QByteArray("\xF8\x88\x80\x80\x80") << false;
    }
    void utf8() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(bytes.toStdString()), valid);
    }

    // Whatever a station holds, the player reads back exactly the values written.
    void directoryPageReadsBack_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::newRow("chinese") << "北京星光音乐台"
                                 << "/stream/101.mp3";
        QTest::newRow("markup") << "<b>粗体</b> <script>x()</script>"
                                << "/s";
        QTest::newRow("entities") << "A & B &amp; &lt; &#20013;"
                                  << "http://h/a?x=1&y=2";
        QTest::newRow("quotes") << "\"双\" '单'"
                                << "mms://h/live";
        QTest::newRow("brackets") << "(台) (hot"
                                  << "/s";
    }
    void directoryPageReadsBack() {
        QFETCH(QString, title);
        QFETCH(QString, url);
        const Station station{"88", "香港", title.toStdString(), url.toStdString(), 0};
        const std::string base = "http://127.0.0.1:8159";
        const QStringList lines = PageLines(DirectoryPage({station, station}, {1234, 1234}, base));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "(zebok)");
        QCOMPARE(lines[1], lines[2]);
        const std::optional<StationCells> cells = CellsOfStationLine(lines[1]);
        QVERIFY(cells);
        QCOMPARE(cells->id, "88");
        QCOMPARE(cells->name, title);
        QCOMPARE(cells->local, QString::fromUtf8("香港"));
        QCOMPARE(cells->hot, "1234");
        QCOMPARE(Module1::TextBetween(lines[1], "(url)", "(/url)"), Q(PublishedUrl(station, base)));
        QCOMPARE(Q(PublishedUrl(station, base)), url.startsWith('/') ? Q(base) + url : url);
    }

    void homePageReadsBack() {
        const QString text =
            PageLines(HomePage("1.59", "http://127.0.0.1:8159/download/", "公告＜一＞")).join('\n');
        QCOMPARE(Module1::TextBetween(text, "(radioban)", "(/radioban)"), "1.59");
        QCOMPARE(Module1::TextBetween(text, "(radio)", "(/radio)"),
                 "http://127.0.0.1:8159/download/");
        QCOMPARE(Module1::TextBetween(text, "(radiomsg)", "(/radiomsg)"), "公告＜一＞");
    }

    void announcements_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("announcements");
        QTest::addColumn<int>("problems");
        QTest::newRow("lines in order")
            << QByteArray("# c\n甲\n\n乙\r\n") << QStringList{"甲", "乙"} << 0;
        QTest::newRow("spaces") << QByteArray("  a \t  b  ") << QStringList{"a b"} << 0;
        QTest::newRow("markup characters")
            << QByteArray("<b>A & B</b>") << QStringList{"＜b＞A ＆ B＜/b＞"} << 0;
        QTest::newRow("closing marker")
            << QByteArray("ok\nx(/radiomsg)y") << QStringList{"ok"} << 1;
        QTest::newRow("not utf-8") << QByteArray("\xB9\xAB\xB8\xE6") << QStringList{} << 1;
    }
    void announcements() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, announcements);
        QFETCH(int, problems);
        const AnnouncementList list = ParseAnnouncements(text.toStdString());
        QStringList parsed;
        for (const std::string &announcement : list.texts) {
            parsed << Q(announcement);
        }
        QCOMPARE(parsed, announcements);
        QCOMPARE(int(list.problems.size()), problems);
    }

    void announcementsRotate() {
        AnnouncementRotation rotation({"a", "b", "c"});
        QStringList seen;
        for (int i = 0; i < 7; ++i) {
            seen << Q(rotation.next());
        }
        QCOMPARE(seen, (QStringList{"a", "b", "c", "a", "b", "c", "a"}));
        QCOMPARE(AnnouncementRotation({}).next(), std::string());
    }

    void publicBase_data() {
        QTest::addColumn<QString>("bound");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("base");
        QTest::newRow("bound address wins") << "127.0.0.1"
                                            << "evil.example:80"
                                            << "http://127.0.0.1:8159";
        QTest::newRow("bound IPv6") << "::1"
                                    << ""
                                    << "http://[::1]:8159";
        QTest::newRow("wildcard, named host") << "0.0.0.0"
                                              << "radio.lan:8159"
                                              << "http://radio.lan:8159";
        QTest::newRow("wildcard, host without port") << "0.0.0.0"
                                                     << "10.1.2.3"
                                                     << "http://10.1.2.3:8159";
        QTest::newRow("wildcard, IPv6 host") << "::"
                                             << "[fe80::1]:99"
                                             << "http://[fe80::1]:8159";
        QTest::newRow("wildcard, no host") << "0.0.0.0"
                                           << ""
                                           << "http://127.0.0.1:8159";
        QTest::newRow("wildcard, path in host") << "0.0.0.0"
                                                << "evil.example/x"
                                                << "http://127.0.0.1:8159";
        QTest::newRow("wildcard, markup in host") << "0.0.0.0"
                                                  << "a<b>(/url)"
                                                  << "http://127.0.0.1:8159";
        QTest::newRow("wildcard, user in host") << "0.0.0.0"
                                                << "user@evil.example"
                                                << "http://127.0.0.1:8159";
        QTest::newRow("wildcard, overlong host")
            << "0.0.0.0" << QString(300, 'a') << "http://127.0.0.1:8159";
    }
    void publicBase() {
        QFETCH(QString, bound);
        QFETCH(QString, host);
        QFETCH(QString, base);
        QCOMPARE(Q(PublicBase(bound.toStdString(), 8159, host.toStdString())), base);
    }

    // Which encoding and validator answers follow from a request's headers.
    void negotiation_data() {
        QTest::addColumn<QString>("acceptEncoding");
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<QString>("ifNoneMatch");
        QTest::addColumn<bool>("matches"); // of the tag "a1"
        QTest::newRow("the player's list") << "deflate, gzip, br, zstd" << true << "\"a1\"" << true;
        QTest::newRow("refused with q=0") << "gzip;q=0, br" << false << "\"a2\"" << false;
        QTest::newRow("weight with spaces") << "GZIP ; q=0.5" << true << "W/\"a1\"" << true;
        QTest::newRow("q=0.000") << "gzip;q=0.000" << false << "\"a2\", \"a1\"" << true;
        QTest::newRow("no header") << "" << false << "" << false;
        QTest::newRow("similar names") << "x-gzipped, gzip2" << false << "*" << true;
    }
    void negotiation() {
        QFETCH(QString, acceptEncoding);
        QFETCH(bool, gzip);
        QFETCH(QString, ifNoneMatch);
        QFETCH(bool, matches);
        QCOMPARE(AcceptsGzip(acceptEncoding.toStdString()), gzip);
        QCOMPARE(MatchesEntityTag(ifNoneMatch.toStdString(), "\"a1\""), matches);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("result"); // "address port dataDir", "help" or "error: …"
        QTest::newRow("defaults") << QStringList{} << "127.0.0.1 8159 /default";
        QTest::newRow("all options")
            << QStringList{"--address", "0.0.0.0", "--port", "80", "--data", "/d"}
            << "0.0.0.0 80 /d";
        QTest::newRow("help wins") << QStringList{"--port", "1", "--help"} << "help";
        QTest::newRow("port zero") << QStringList{"--port", "0"} << "error: --port";
        QTest::newRow("port too big") << QStringList{"--port", "65536"} << "error: --port";
        QTest::newRow("port with text") << QStringList{"--port", "80x"} << "error: --port";
        QTest::newRow("missing value") << QStringList{"--data"} << "error: option --data";
        QTest::newRow("empty value") << QStringList{"--address", ""} << "error: option --address";
        QTest::newRow("unknown") << QStringList{"-p", "80"} << "error: unknown option '-p'";
        QTest::newRow("shared database behind a balancer")
            << QStringList{"--database", "postgresql://dir@db/radio", "--public",
                           "http://radio.example:8159/"}
            << "127.0.0.1 8159 /default postgresql://dir@db/radio http://radio.example:8159";
        // A password must not reach the log, even from a mistyped value.
        QTest::newRow("database not a URI")
            << QStringList{"--database", "host=db password=secret"} << "error: --database";
        QTest::newRow("public address with a path")
            << QStringList{"--public", "http://radio.example/x"} << "error: --public";
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, result);
        std::vector<std::string> arguments;
        for (const QString &arg : args) {
            arguments.push_back(arg.toStdString());
        }
        const ParsedCommandLine parsed = ParseCommandLine(arguments, "/default");
        QString got = "help";
        if (const auto *options = std::get_if<Options>(&parsed)) {
            got = Q(options->address) + " " + QString::number(options->port) + " " +
                  Q(options->dataDir);
            if (!options->database.empty() || !options->publicBase.empty()) {
                got += " " + Q(options->database) + " " + Q(options->publicBase);
            }
        } else if (const auto *error = std::get_if<UsageError>(&parsed)) {
            got = "error: " + Q(error->message);
        }
        QVERIFY2(got.startsWith(result), qPrintable(got));
        QVERIFY(!got.startsWith("error") || !got.contains("secret"));
    }

    // Metadata blocks fall every interval bytes of audio however the audio is cut.
    void icyInterleaving_data() {
        QTest::addColumn<int>("chunk");
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("smaller than the interval") << 77;
        QTest::newRow("the interval") << 100;
        QTest::newRow("larger than the interval") << 333;
        QTest::newRow("all at once") << 5000;
    }
    void icyInterleaving() {
        QFETCH(int, chunk);
        std::string audio;
        for (int i = 0; i < 1050; ++i) {
            audio += static_cast<char>('a' + i % 26);
        }
        IcyInterleaver icy(100, "北京台");
        std::string stream;
        for (std::size_t at = 0; at < audio.size(); at += chunk) {
            stream += icy.wrap(std::string_view(audio).substr(at, chunk));
        }
        QCOMPARE(stream.size(), audio.size() + 32 + 1 + 9); // one title block, nine empty
        QList<QByteArray> titles;
        QCOMPARE(StripIcy(stream, 100, titles), audio);
        QCOMPARE(titles, QList<QByteArray>{"StreamTitle='北京台';" + QByteArray(8, '\0')});
    }

    void icyTitleIsCutAtACharacter() {
        std::string title = "x";
        for (int i = 0; i < 2000; ++i) {
            title += "北";
        }
        const std::string block = IcyTitleBlock(title);
        QCOMPARE(static_cast<unsigned char>(block[0]), 255);
        QCOMPARE(block.size(), 1u + 255 * 16);
        const std::string text = block.substr(1, block.find('\0', 1) - 1);
        QVERIFY(text.starts_with("StreamTitle='x北北") && text.ends_with("北';"));
        QVERIFY(IsValidUtf8(text));
    }

    void soundsDiffer() {
        QSet<QString> sounds;
        for (int sound = 0; sound < 45; ++sound) {
            const tone::ToneSettings settings = SoundOf(sound);
            QVERIFY(tone::ToneStream(settings).isValid());
            sounds << QString("%1 %2 %3")
                          .arg(settings.frequencyHz)
                          .arg(settings.decaySeconds)
                          .arg(settings.loopSeconds);
        }
        QCOMPARE(sounds.size(), 45);
    }
};

QTEST_GUILESS_MAIN(TestDirectoryServerFormats)

#include "test_directory_server_formats.moc"
