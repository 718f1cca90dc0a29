// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/http_transfer.h"

#include "platform/background_task.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <mutex>

namespace platform {

namespace {

// Closed from LoadHttpModuleAfterWindowsShow until the first window shows,
// or until openBy at the latest.
struct ModuleGate {
    std::mutex mutex;
    std::condition_variable opened;
    bool closed = false;
    std::chrono::steady_clock::time_point openBy;
};

ModuleGate &Gate() {
    static ModuleGate gate;
    return gate;
}

// Waits while the gate is closed; false when the exchange is cancelled
// meanwhile (its owner may be waiting for it to end).
bool PassGate(const std::atomic<bool> *cancel) {
    ModuleGate &gate = Gate();
    std::unique_lock lock(gate.mutex);
    while (gate.closed && std::chrono::steady_clock::now() < gate.openBy) {
        if (cancel && cancel->load())
            return false;
        gate.opened.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
}

// The module's exchange, loaded once; nothing when the module cannot be.
TransferFunction LoadedTransfer() {
    static const TransferFunction loaded = []() -> TransferFunction {
        const QDir programFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
        for (const char *folder : {QUORVEL_MODULE_FOLDERS}) {
            const QString path =
                programFolder.filePath(QLatin1StringView(folder) + u'/' + kHttpModuleFile);
            if (!QFileInfo::exists(path)) {
                continue;
            }
            void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            const auto entry = module ? reinterpret_cast<TransferFunction (*)()>(
                                            dlsym(module, "quorvel_http_transfer"))
                                      : nullptr;
            if (entry) {
                return entry();
            }
            qWarning("the HTTP module %s cannot be loaded: %s", qPrintable(path), dlerror());
            return nullptr;
        }
        qWarning("the HTTP module %s is missing", kHttpModuleFile);
        return nullptr;
    }();
    return loaded;
}

} // namespace

QByteArray TransferResult::header(QByteArrayView name) const {
    for (const auto &[headerName, value] : headers) {
        if (headerName == name)
            return value;
    }
    return {};
}

void LoadHttpModuleAfterWindowsShow() {
    {
        const std::lock_guard lock(Gate().mutex);
        Gate().closed = true;
        Gate().openBy = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
    WhenWindowsShown(QCoreApplication::instance(), [] {
        {
            const std::lock_guard lock(Gate().mutex);
            Gate().closed = false;
        }
        Gate().opened.notify_all();
    });
}

TransferResult Transfer(const TransferRequest &request, const std::atomic<bool> *cancel) {
    if (!IsHttpUrl(request.url)) {
        return {};
    }
    if (!PassGate(cancel)) {
        return {};
    }
    const TransferFunction transfer = LoadedTransfer();
    return transfer ? transfer(request, cancel) : TransferResult{};
}

} // namespace platform
