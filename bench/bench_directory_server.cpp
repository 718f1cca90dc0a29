// SPDX-License-Identifier: GPL-3.0-or-later

// The companion directory server with 150,000 stations: one directory request
// alone (the anchor), then 50 at once, 50 at once that already hold the page,
// and 50 at once after a play changed it. Prints each answer's time and the
// server's peak memory; its memory when idle beside a server with the demo's
// few stations. Then small requests alone, and again while 300 clients
// that asked for the page read none of it.

#include "contract/directory_contract.h"
#include "tests/support/directory_server_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <latch>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStations = 150000;
constexpr int kClients = 50;
const std::string kDirectory(contract::kDirectoryPath);
// What the player's HTTP library offers.
constexpr const char *kAcceptEncoding = "deflate, gzip, br, zstd";

bool WriteFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray StationList() {
    QByteArray list;
    for (int id = 1; id <= kStations; ++id) {
        list += QByteArray::number(id) + " | 北京 | 北京音乐广播 " + QByteArray::number(id) +
                " | /stream/" + QByteArray::number(id) + ".mp3 | " + QByteArray::number(id % 700) +
                "\n";
    }
    return list;
}

struct Answer {
    int status = 0;
    std::size_t bytes = 0; // as received, before decoding
    double ms = 0;
    std::string etag;
};

Answer Fetch(httplib::Client &client, const httplib::Headers &headers) {
    Answer answer;
    QElapsedTimer timer;
    timer.start();
    client.set_decompress(false);
    const auto result = client.Get(kDirectory, headers, [&](const char *, std::size_t length) {
        answer.bytes += length;
        return true;
    });
    answer.ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (result) {
        answer.status = result->status;
        answer.etag = result->get_header_value("ETag");
    }
    return answer;
}

// kClients requests released together.
std::vector<Answer> FetchTogether(const testsupport::DirectoryServerProcess &server,
                                  const httplib::Headers &headers) {
    std::vector<Answer> answers(kClients);
    std::latch ready(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            const auto client = server.client();
            client->set_read_timeout(60);
            ready.arrive_and_wait();
            answers[i] = Fetch(*client, headers);
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    return answers;
}

void Report(const char *what, std::vector<Answer> answers, double anchorMs, long peakKiB) {
    std::sort(answers.begin(), answers.end(),
              [](const Answer &a, const Answer &b) { return a.ms < b.ms; });
    const auto ok = std::count_if(answers.begin(), answers.end(),
                                  [](const Answer &a) { return a.status == 200; });
    const auto notModified = std::count_if(answers.begin(), answers.end(),
                                           [](const Answer &a) { return a.status == 304; });
    const double slowest = answers.back().ms;
    std::printf("%-34s 200: %2td, 304: %2td, median %8.1f ms, slowest %8.1f ms (%.1fx the "
                "anchor), %5.1f pages/s, %zu bytes each; server peak %ld MiB\n",
                what, ok, notModified, answers[answers.size() / 2].ms, slowest, slowest / anchorMs,
                1000.0 * kClients / slowest, answers.back().bytes, peakKiB / 1024);
}

// A client that asks for the whole page, uncompressed, and never reads it.
int NonReader(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const std::string request = "GET " + kDirectory + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    return fd;
}

// Twenty small requests one after the other: the median and slowest time in
// ms, and how many got no answer within 5 s.
void Probe(const testsupport::DirectoryServerProcess &server, const char *what) {
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < 20; ++i) {
        auto client = server.client();
        client->set_connection_timeout(5);
        client->set_read_timeout(5);
        QElapsedTimer timer;
        timer.start();
        const auto result = client->Get(std::string(contract::kAnnouncementPath));
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        failed += result && result->status == 200 ? 0 : 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %8.2f ms, slowest %8.2f ms, %d of 20 failed\n", what, ms[10],
                ms.back(), failed);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    testsupport::DirectoryServerProcess server;
    if (!QDir().mkpath(server.dataDir()) ||
        !WriteFile(server.file("stations.txt"), StationList()) ||
        !WriteFile(server.file("announcements.txt"), "公告\n")) {
        std::fprintf(stderr, "cannot write the data folder\n");
        return 1;
    }
    if (!server.start()) {
        std::fprintf(stderr, "the server did not start: %s\n", server.errors().constData());
        return 1;
    }
    // The anchor of its memory: the same server with the demo's few stations.
    testsupport::DirectoryServerProcess demo;
    if (!demo.start()) {
        std::fprintf(stderr, "the demo server did not start: %s\n", demo.errors().constData());
        return 1;
    }
    const long idleKiB = server.memoryKiB("VmRSS");
    const long demoKiB = demo.memoryKiB("VmRSS");
    demo.terminate();
    std::printf("%d stations; server idle %ld MiB (start-up peak %ld MiB), with the demo's "
                "stations %ld MiB: %ld bytes a station\n",
                kStations, idleKiB / 1024, server.memoryKiB("VmHWM") / 1024, demoKiB / 1024,
                (idleKiB - demoKiB) * 1024 / kStations);
    const httplib::Headers player{{"Accept-Encoding", kAcceptEncoding}};

    auto client = server.client();
    client->set_read_timeout(60);
    const Answer anchor = Fetch(*client, player);
    std::printf("anchor: one request alone %.1f ms, status %d, %zu bytes\n", anchor.ms,
                anchor.status, anchor.bytes);

    Report("50 at once:", FetchTogether(server, player), anchor.ms, server.memoryKiB("VmHWM"));
    httplib::Headers holding = player;
    holding.emplace("If-None-Match", Fetch(*client, player).etag);
    Report("50 at once, holding the page:", FetchTogether(server, holding), anchor.ms,
           server.memoryKiB("VmHWM"));
    client->Get(std::string(contract::kPlayReportPath) + "?" +
                std::string(contract::kPlayReportIdField) + "=101");
    Report("50 at once after a play:", FetchTogether(server, player), anchor.ms,
           server.memoryKiB("VmHWM"));

    constexpr int kNonReaders = 300;
    Probe(server, "probes alone:");
    std::vector<int> nonReaders;
    for (int i = 0; i < kNonReaders; ++i) {
        nonReaders.push_back(NonReader(server.port()));
    }
    QThread::msleep(1000); // their answers fill what the sockets hold
    Probe(server, "probes beside 300 non-readers:");
    std::printf("(target: probes beside the non-readers as fast as alone, none failed)\n");
    for (int fd : nonReaders) {
        close(fd);
    }
    server.terminate();
    return 0;
}
