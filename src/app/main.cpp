#include "app/loading_window.h"
#include "app/main_commands.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

std::vector<std::string> installedManuals() {
    std::vector<std::string> paths;
    // Beside the program wherever the installation was moved to.
    paths.push_back(QDir::cleanPath(QDir(QCoreApplication::applicationDirPath())
                                        .filePath(u"../share/velmora-mailtray/help/manual.html"_s))
                        .toStdString());
#ifdef VELMORA_INSTALLED_MANUAL
    paths.emplace_back(VELMORA_INSTALLED_MANUAL);
#endif
#ifdef VELMORA_SOURCE_MANUAL
    paths.emplace_back(VELMORA_SOURCE_MANUAL);
#endif
    return paths;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string startDirectory() {
    std::string directory = QDir::currentPath().toStdString();
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

void setApplicationNames() {
    QCoreApplication::setApplicationName(u"Velmora Mailtray"_s);
    QCoreApplication::setOrganizationName(u"Velmora"_s);
    QCoreApplication::setApplicationVersion(u"1.1"_s);
}

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption manualPath{u"manual-path"_s,
                                  u"Print the path of the manual that Help opens, and quit."_s};
    CommandLine() {
        parser.setApplicationDescription(u"E-mail marketing to a contact list."_s);
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(manualPath);
        parser.addPositionalArgument(u"file"_s, u"A session file (.qmz) to open at start-up."_s,
                                     u"[file]"_s);
    }
};

// --help, --version and --manual-path answer without a display, so they
// are read before the windowing system is reached. Returns an exit code
// when the program should end here.
std::optional<int> answerWithoutWindows(int argc, char** argv) {
    const QCoreApplication probe(argc, argv);
    setApplicationNames();
    CommandLine line;
    // Unknown options may be the windowing system's (-platform ...): the
    // second pass reports what nobody knows.
    line.parser.parse(QCoreApplication::arguments());
    if (line.parser.isSet(u"help"_s)) {
        line.parser.showHelp(0);
    }
    if (line.parser.isSet(u"version"_s)) {
        line.parser.showVersion();
    }
    if (line.parser.isSet(line.manualPath)) {
        std::printf(
            "%s\n",
            velmora::app::helpFilePath(startDirectory(), installedManuals(), &pathExists).c_str());
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto exitCode = answerWithoutWindows(argc, argv)) {
        return *exitCode;
    }
    // The web engine shares its OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    setApplicationNames();
    // Matches the desktop entry's file name.
    QGuiApplication::setDesktopFileName(u"org.velmora.mailtray"_s);

    CommandLine line;
    line.parser.process(app);
    if (line.parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "velmora-mailtray: give at most one session file.\n");
        return 2;
    }
    // The file as the desktop or the shell named it, made absolute so that
    // Save and Recent Sessions find it from any folder.
    std::string startFile;
    if (!line.parser.positionalArguments().isEmpty()) {
        startFile =
            QFileInfo(line.parser.positionalArguments().front()).absoluteFilePath().toStdString();
    }
    return velmora::app::runDesktopProgram(installedManuals(), nullptr, startFile);
}
