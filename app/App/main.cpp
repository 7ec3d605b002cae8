#include "App/AppDelegate.hpp"
#include "desktop/NSApplication.hpp"

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

    std::vector<URL> files;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        files.push_back(
            URL::fileURL(std::filesystem::absolute(arguments[index].toStdString()), false));
    }
    AppDelegate::registerStoryboards();
    auto& application = NSApplication::shared();
    application.setMainMenu(AppDelegate::makeMainMenu());
    application.setDelegate(std::make_shared<AppDelegate>(std::move(files)));
    return application.run();
}
