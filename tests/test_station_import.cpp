// SPDX-License-Identifier: GPL-3.0-or-later

// Importing station lists: each format read from a real file, the regions the
// quick search finds, stable channel numbers, skipped stations and malformed
// files.

#include "directory_server/region_names.h"
#include "directory_server/station_import.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <iconv.h>

using namespace directory;

namespace {

QByteArray Gb18030(const QString &text) {
    QByteArray bytes;
    // Qt 6 core has no GB18030 encoder; glibc's iconv, as the server uses, has.
    const QByteArray utf8 = text.toUtf8();
    iconv_t converter = iconv_open("GB18030", "UTF-8");
    bytes.resize(utf8.size() * 2);
    char *in = const_cast<char *>(utf8.data());
    std::size_t inLeft = utf8.size();
    char *out = bytes.data();
    std::size_t outLeft = bytes.size();
    iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    bytes.resize(bytes.size() - outLeft);
    return bytes;
}

// The stations read from content saved as a real file called name.
ImportedStations ReadFile(const QString &name, const QByteArray &content,
                          ImportSettings settings = {}) {
    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write the test file");
    }
    file.close();
    file.open(QIODevice::ReadOnly);
    const QByteArray read = file.readAll();
    ImportedStations stations;
    ReadImportFile(name.toStdString(), std::string_view(read.data(), read.size()), settings,
                   stations);
    return stations;
}

QStringList Lines(const std::vector<Station> &stations) {
    QStringList lines;
    for (const Station &s : stations) {
        lines << QString::fromStdString(s.id + "|" + s.region + "|" + s.title + "|" + s.url + "|" +
                                        std::to_string(s.startingHeat));
    }
    return lines;
}

QStringList Skips(const ImportedStations &stations) {
    QStringList skips;
    for (const SkippedStation &skipped : stations.skipped) {
        skips << QString::fromStdString(skipped.where + ": " + skipped.reason);
    }
    return skips;
}

const char *const kCommunityJson =
    "[\n"
    " {\"changeuuid\":\"c1\",\"stationuuid\":\"a1\",\"name\":\"Guangdong Music "
    "Radio\",\"url\":\"http://gd.example/old\",\n"
    "  \"url_resolved\":\"http://gd.example/live\",\"countrycode\":\"CN\",\"state\":\"Guangdong "
    "Province\",\n"
    "  "
    "\"tags\":\"music,pop\",\"codec\":\"MP3\",\"bitrate\":128,\"clickcount\":57,\"lastcheckok\":1,"
    "\"hls\":0,\n"
    "  "
    "\"geo_lat\":null,\"languagecodes\":\"zh\",\"votes\":3,\"extra\":{\"nested\":[1,2.5e3,true]}},"
    "\n"
    " {\"stationuuid\":\"a2\",\"name\":\"NHK "
    "\\u30e9\\u30b8\\u30aa\",\"url\":\"https://jp.example/nhk\",\n"
    "  "
    "\"url_resolved\":\"\",\"countrycode\":\"JP\",\"state\":\"Tokyo\",\"clickcount\":12,"
    "\"lastcheckok\":1,\"hls\":0},\n"
    " {\"stationuuid\":\"a3\",\"name\":\"Gone "
    "FM\",\"url\":\"http://gone.example/\",\"url_resolved\":\"http://gone.example/\",\n"
    "  \"countrycode\":\"DE\",\"state\":\"\",\"clickcount\":4,\"lastcheckok\":0,\"hls\":0},\n"
    " {\"stationuuid\":\"a4\",\"name\":\"Old "
    "school\",\"url\":\"ftp://files.example/radio.mp3\",\"url_resolved\":\"\",\n"
    "  \"countrycode\":\"US\",\"clickcount\":1,\"lastcheckok\":1},\n"
    " {\"stationuuid\":\"a1\",\"name\":\"Guangdong Music Radio "
    "again\",\"url\":\"http://gd.example/live2\",\n"
    "  \"countrycode\":\"CN\",\"state\":\"Guangdong\",\"clickcount\":1,\"lastcheckok\":1},\n"
    " {\"stationuuid\":\"a6\",\"name\":\"Hong Kong (url)\",\n"
    "                  \"url\" : \"http://hk.example/\",\n"
    "                  \"countrycode\" : \"HK\",\n"
    "                  \"clickcount\" : 1,\n"
    "                  \"lastcheckok\" : 1\n"
    "},\n"
    " {\"stationuuid\":\"a7\",\"name\":\"Inner Mongolia "
    "News\",\"url\":\"http://nm.example/\",\"countrycode\":\"CN\",\n"
    "  \"state\":\"Nei Mongol\",\"clickcount\":2,\"lastcheckok\":1}\n"
    "]";

} // namespace

class TestStationImport : public QObject {
    Q_OBJECT

private slots:
    void formats_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("stations"); // id|region|title|url|heat after import
        QTest::addColumn<QStringList>("skips");

        QTest::newRow("community JSON")
            << "stations.json" << QByteArray(kCommunityJson)
            << QStringList{"1|广东|Guangdong Music Radio|http://gd.example/live|57",
                           "2|日本|NHK ラジオ|https://jp.example/nhk|12",
                           "3|内蒙古|Inner Mongolia News|http://nm.example/|2"}
            << QStringList{"stations.json station 3 (line 8): broken at the last check",
                           "stations.json station 4 (line 10): no usable http/https url",
                           "stations.json station 5 (line 12): duplicate",
                           "stations.json station 6 (line 14): text the directory cannot show"};
        QTest::newRow("M3U with #EXTINF, by content whatever the name")
            << "list.txt"
            << QByteArray("#EXTM3U\r\n#EXTINF:-1 tvg-name=\"a,b\",北京新闻\r\n"
                          "http://bj.example/news\r\n\r\n# a comment\r\nhttp://plain.example/\r\n"
                          "#EXTINF:-1,Files\r\nftp://f.example/x\r\n")
            << QStringList{"1||北京新闻|http://bj.example/news|0",
                           "2||http://plain.example/|http://plain.example/|0"}
            << QStringList{"list.txt line 8: no usable http/https url"};
        QTest::newRow("PLS")
            << "radio.pls"
            << QByteArray("[playlist]\nNumberOfEntries=2\nFile2=http://two.example/\n"
                          "Title1=One\nFile1=http://one.example/\nTitle2=Two\nVersion=2\n")
            << QStringList{"1||One|http://one.example/|0", "2||Two|http://two.example/|0"}
            << QStringList{};
        QTest::newRow("GB18030 CSV with quoting")
            << "stations.csv"
            << Gb18030("title,url,region,id,heat\r\n"
                       "\"广州台, \"\"新闻\"\"\",http://gz.example/,广东,7,30\r\n"
                       "\"两行\n标题\",http://two.example/,,,\r\n"
                       "坏的,http://bad.example/,,x1,\r\n"
                       "少,http://few.example/\r\n"
                       "同一个,http://gz.example/,,,\r\n")
            << QStringList{"7|广东|广州台, \"新闻\"|http://gz.example/|30"}
            << QStringList{"stations.csv line 3: text the directory cannot show",
                           "stations.csv line 5: malformed id or heat",
                           "stations.csv line 6: not a station line",
                           "stations.csv line 7: duplicate"};
        QTest::newRow("our own list")
            << "stations.txt"
            << QByteArray("# ours\n101 | 北京 | 北京台 | /stream/101.mp3 | 5\n"
                          "102 | 上海 | 上海台 | mms://sh.example/ \n103 | x | (title) | /s\n")
            << QStringList{"101|北京|北京台|/stream/101.mp3|5"}
            << QStringList{"stations.txt line 4: not a station line",
                           "stations.txt line 3: no usable http/https url"};
    }

    void regions_data() {
        QTest::addColumn<QString>("countryCode");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("region");
        QTest::newRow("province") << "CN"
                                  << "Guangdong"
                                  << "广东";
        QTest::newRow("Shanxi") << "cn"
                                << "Shanxi Sheng"
                                << "山西";
        QTest::newRow("Shaanxi") << "CN"
                                 << "Shaanxi"
                                 << "陕西";
        QTest::newRow("autonomous region") << "CN"
                                           << "Guangxi Zhuang Autonomous Region"
                                           << "广西";
        QTest::newRow("municipality") << "CN"
                                      << "Beijing Shi"
                                      << "北京";
        QTest::newRow("in Chinese") << "CN"
                                    << "黑龙江省"
                                    << "黑龙江";
        QTest::newRow("China, state unknown") << "CN"
                                              << "Somewhere"
                                              << "中国";
        QTest::newRow("SAR by country code") << "HK"
                                             << ""
                                             << "香港";
        QTest::newRow("Taiwan by country code") << "TW"
                                                << "Taipei"
                                                << "台湾";
        QTest::newRow("country") << "US"
                                 << "Texas"
                                 << "美国";
        QTest::newRow("no country") << ""
                                    << "Guangdong"
                                    << "";
    }

    void regions() {
        QFETCH(QString, countryCode);
        QFETCH(QString, state);
        QFETCH(QString, region);
        QCOMPARE(
            QString::fromStdString(RegionOfStation(countryCode.toStdString(), state.toStdString())),
            region);
    }

    void formats() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, stations);
        QFETCH(QStringList, skips);
        const ImportedStations read = ReadFile(name, content);
        const ImportPlan plan = PlanImport({}, read, false);
        QCOMPARE(Lines(plan.stations), stations);
        QCOMPARE(Skips(read), skips);
    }

    // The same stations keep their numbers in the next import, whatever the
    // order or the changes of their names; new ones take the next number.
    void reimportKeepsNumbers() {
        const ImportPlan first = PlanImport({}, ReadFile("a.json", kCommunityJson), true);
        QByteArray changed = QByteArray(kCommunityJson)
                                 .replace("Guangdong Music Radio\"", "广东音乐之声\"")
                                 .replace("\"a7\"", "\"a8\"");
        const ImportPlan second = PlanImport(first.stations, ReadFile("b.json", changed), true);
        QCOMPARE(Lines(second.stations),
                 (QStringList{"1|广东|广东音乐之声|http://gd.example/live|57",
                              "2|日本|NHK ラジオ|https://jp.example/nhk|12",
                              "4|内蒙古|Inner Mongolia News|http://nm.example/|2"}));
        QCOMPARE(second.counts.imported, 1u);
        QCOMPARE(second.counts.updated, 1u);
        QCOMPARE(second.counts.unchanged, 1u);
        QCOMPARE(second.counts.removed, 1u);
    }

    void malformed_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::newRow("JSON cut off")
            << "x.json" << QByteArray("[\n {\"name\":\"a\",\n  \"url\":\"http://a")
            << "x.json: line 3 column 9: a string is never closed";
        QTest::newRow("JSON not an array") << "x.json" << QByteArray("{\"stations\":[]}")
                                           << "x.json: line 1 column 1: expected "
                                              "an array of stations";
        QTest::newRow("JSON trailing comma") << "x.json" << QByteArray("[{\"a\":1},]")
                                             << "x.json: line 1 column 10: expected a "
                                                "station (an object)";
        QTest::newRow("CSV quote never closed")
            << "x.csv" << QByteArray("title,url\n\"a,http://a/\n")
            << "x.csv: the quoted field opened on line 2 is never closed";
        QTest::newRow("CSV without url column")
            << "x.csv" << QByteArray("title,link\na,http://a/\n")
            << "x.csv: line 1: the header must name the columns title and url";
        QTest::newRow("PLS line without =")
            << "x.pls" << QByteArray("[playlist]\nFile1=http://a/\ngarbage\n")
            << "x.pls: line 3: expected key=value";
        QTest::newRow("neither UTF-8 nor GB18030")
            << "x.m3u" << QByteArray("#EXTM3U\n#EXTINF:-1,\xff\xff\nhttp://a/\n")
            << "x.m3u: byte 20 is neither UTF-8 nor GB18030 text";
    }

    void malformed() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        try {
            ReadFile(name, content);
            QFAIL("the file was read");
        } catch (const ImportError &refused) {
            QVERIFY2(QString::fromUtf8(refused.what()).startsWith(error), refused.what());
        }
    }
};

QTEST_GUILESS_MAIN(TestStationImport)
#include "test_station_import.moc"
