#include "desktop/NSWorkspace.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>

namespace velmora {

namespace {

// A file manager that does not answer within this time is taken as absent.
constexpr int showItemsTimeoutMilliseconds = 3000;

QIcon themeIcon(const QMimeType& type) {
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(type.genericIconName());
    }
    return icon;
}

} // namespace

NSWorkspace& NSWorkspace::shared() {
    static NSWorkspace instance;
    return instance;
}

NSWorkspace::Backend NSWorkspace::systemBackend() {
    Backend backend;
    backend.showItems = [](const QStringList& uris) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            return false;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << uris << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, showItemsTimeoutMilliseconds);
        return reply.type() == QDBusMessage::ReplyMessage;
    };
    backend.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    backend.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    return backend;
}

bool NSWorkspace::activateFileViewerSelectingURLs(const std::vector<URL>& urls) {
    if (urls.empty()) {
        return false;
    }
    QStringList uris;
    for (const URL& url : urls) {
        uris
            << QUrl::fromLocalFile(QString::fromStdString(url.path())).toString(QUrl::FullyEncoded);
    }
    if (backend_.showItems && backend_.showItems(uris)) {
        return true;
    }
    const URL folder = urls.front().deletingLastPathComponent();
    return backend_.openUrl &&
           backend_.openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.path())));
}

bool NSWorkspace::openURL(const URL& url) {
    return backend_.openUrl &&
           backend_.openUrl(QUrl::fromLocalFile(QString::fromStdString(url.path())));
}

QIcon NSWorkspace::iconForFile(const std::string& path) const {
    const QFileInfo info(QString::fromStdString(path));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    QIcon icon = info.isDir() ? QIcon::fromTheme(QStringLiteral("folder")) : themeIcon(type);
    if (icon.isNull()) {
        icon = QFileIconProvider().icon(info);
    }
    return icon;
}

QIcon NSWorkspace::iconForContentType(std::string_view mimeType) const {
    const QMimeType type = QMimeDatabase().mimeTypeForName(
        QString::fromUtf8(mimeType.data(), qsizetype(mimeType.size())));
    QIcon icon = type.isValid() ? themeIcon(type) : QIcon();
    if (icon.isNull()) {
        icon = QFileIconProvider().icon(QFileIconProvider::File);
    }
    return icon;
}

bool NSWorkspace::launchApplication(const URL& program, const std::vector<std::string>& arguments,
                                    std::string* error) {
    QStringList qarguments;
    for (const std::string& argument : arguments) {
        qarguments << QString::fromStdString(argument);
    }
    const QFileInfo info(QString::fromStdString(program.path()));
    bool started = false;
    if (info.isFile() && info.isExecutable() && backend_.startDetached) {
        started = backend_.startDetached(info.absoluteFilePath(), qarguments);
    }
    if (!started && error) {
        *error = "The application \"" + info.fileName().toStdString() + "\" could not be launched.";
    }
    return started;
}

} // namespace velmora
