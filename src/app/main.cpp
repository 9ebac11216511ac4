#include "store/session.h"
#include "store/session_commands.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>

namespace {

class TitleHooks final : public SessionHooks {
public:
    explicit TitleHooks(QMainWindow& window) : window_(window) {}
    void setWindowTitle(const std::string& title) override {
        window_.setWindowTitle(QString::fromStdString(title));
    }

private:
    QMainWindow& window_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora Mailtray");
    QApplication::setOrganizationName("Velmora");

    Session session;
    session.startDirectory = QDir::currentPath().toStdString() + "/";

    QMainWindow window;
    window.resize(810, 610);
    TitleHooks hooks(window);
    newSession(session, hooks);
    window.show();
    return QApplication::exec();
}
