#include "App/AppDelegate.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/SingleInstanceChannel.hpp"

#include <QApplication>
#include <filesystem>

using namespace velmora;

int main(int argc, char** argv) {
    // Native Wayland lets no client place its windows or read the pointer.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication qtApplication(argc, argv);
    QGuiApplication::setApplicationDisplayName("Velmora");
    QGuiApplication::setDesktopFileName("com.tovik.Velmora");

    std::vector<std::string> paths;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        paths.push_back(std::filesystem::absolute(arguments[index].toStdString()).string());
    }
    // A program already running takes the files, or brings its windows back.
    SingleInstanceChannel channel(SingleInstanceChannel::standardSocketPath());
    const auto role = channel.start(paths, [](std::vector<std::string> handed) {
        auto& application = NSApplication::shared();
        if (handed.empty()) {
            application.reopen(application.hasVisibleWindows());
            return;
        }
        std::vector<URL> urls;
        for (const std::string& path : handed) {
            urls.push_back(URL::fileURL(path, false));
        }
        application.openURLs(std::move(urls));
    });
    if (role == SingleInstanceChannel::Role::handedOver) {
        return 0;
    }

    std::vector<URL> files;
    for (const std::string& path : paths) {
        files.push_back(URL::fileURL(path, false));
    }
    AppDelegate::registerStoryboards();
    auto& application = NSApplication::shared();
    application.setMainMenu(AppDelegate::makeMainMenu());
    application.setDelegate(std::make_shared<AppDelegate>(std::move(files)));
    return application.run();
}
