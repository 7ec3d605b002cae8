#include "support/ChildProcess.hpp"

#include <QCoreApplication>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

int run(const QString& program, const QStringList& arguments,
        const std::map<std::string, std::string>& environment = {}) {
    std::vector<std::string> args;
    for (const QString& a : arguments) {
        args.push_back(a.toStdString());
    }
    const auto done = velmora::test::runChild(program.toStdString(), args, environment, false,
                                              std::chrono::seconds(60));
    return done.exitCode.value_or(-1);
}

// Run by the test below in a process of its own, since the MIME database is
// read from XDG_DATA_DIRS once per process.
TEST(DesktopInstallChild, NativeDocumentsAreNamedByTheInstalledType) {
    if (qEnvironmentVariableIsEmpty("VELMORA_INSTALL_CHECK")) {
        GTEST_SKIP() << "run by DesktopInstall";
    }
    const QMimeDatabase database;
    EXPECT_EQ(database.mimeTypeForFile("a.velmora", QMimeDatabase::MatchExtension).name(),
              "application/x-velmora-image");
}

TEST(DesktopInstall, DesktopFilesInstallValidateAndNameTheNativeTypeAndIcon) {
    QTemporaryDir destination;
    ASSERT_TRUE(destination.isValid());
    const QString prefix = destination.path() + "/usr";
    ASSERT_EQ(run("cmake",
                  {"--install", VELMORA_BUILD_DIR, "--component", "desktop", "--prefix", prefix}),
              0);
    const QString desktop = prefix + "/share/applications/com.tovik.Velmora.desktop";
    ASSERT_TRUE(std::filesystem::exists(desktop.toStdString()));
    EXPECT_EQ(run("desktop-file-validate", {desktop}), 0);
    ASSERT_EQ(run("update-mime-database", {prefix + "/share/mime"}), 0);

    // Launchers find the entry's icon by name in the hicolor theme.
    std::ifstream entry(desktop.toStdString());
    std::string line;
    std::string icon;
    while (std::getline(entry, line)) {
        if (line.starts_with("Icon=")) {
            icon = line.substr(5);
        }
    }
    ASSERT_FALSE(icon.empty()) << "the desktop entry names no icon";
    std::ifstream svg(prefix.toStdString() + "/share/icons/hicolor/scalable/apps/" + icon + ".svg");
    ASSERT_TRUE(svg.good()) << icon << " is not installed in the hicolor theme";
    std::ostringstream image;
    image << svg.rdbuf();
    EXPECT_NE(image.str().find("<svg"), std::string::npos);

    const std::map<std::string, std::string> environment{
        {"XDG_DATA_DIRS", (prefix + "/share").toStdString()},
        {"XDG_DATA_HOME", (destination.path() + "/home").toStdString()},
        {"VELMORA_INSTALL_CHECK", "1"}};
    EXPECT_EQ(run(QCoreApplication::applicationFilePath(), {"--gtest_filter=DesktopInstallChild.*"},
                  environment),
              0);
}

} // namespace
