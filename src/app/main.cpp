#include "app/loading_window.h"

#include <QApplication>
#include <QDir>

namespace {

std::vector<std::string> installedManuals() {
    std::vector<std::string> paths;
    paths.push_back(QDir(QCoreApplication::applicationDirPath())
                        .filePath("../share/velmora-mailtray/help/manual.html")
                        .toStdString());
#ifdef VELMORA_INSTALLED_MANUAL
    paths.emplace_back(VELMORA_INSTALLED_MANUAL);
#endif
#ifdef VELMORA_SOURCE_MANUAL
    paths.emplace_back(VELMORA_SOURCE_MANUAL);
#endif
    return paths;
}

} // namespace

int main(int argc, char** argv) {
    // The web engine shares its OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora Mailtray");
    QApplication::setOrganizationName("Velmora");
    QApplication::setApplicationVersion("1.1");
    return runDesktopProgram(installedManuals());
}
