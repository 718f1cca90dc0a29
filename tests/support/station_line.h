// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace testsupport {

// One station line of the directory page, its fields in the order the server
// writes them. Without a url the station streams from http://s/<id>.
inline QString StationLine(const QString &id, const QString &title, const QString &url = {},
                           const QString &local = QStringLiteral("北京"),
                           const QString &hot = QStringLiteral("5")) {
    const QString stream = url.isEmpty() ? "http://s/" + id.trimmed() : url;
    return "(id)" + id + "(/id)(title)" + title + "(/title)(url)" + stream + "(/url)(local)" +
           local + "(/local)(hot)" + hot + "(/hot)";
}

} // namespace testsupport
