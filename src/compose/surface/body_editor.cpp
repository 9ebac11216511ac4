#include "compose/surface/body_editor.h"

#include "compose/editing_commands.h"
#include "compose/surface/body_editor_script.h"
#include "delivery/message/html_text.h"
#include "platform/qt_text.h"
#include "store/atomic_file.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <memory>

using namespace Qt::StringLiterals;

namespace velmora::compose {

using platform::toQString;

// The body's page accepts only the navigations the editor starts itself, each
// once: a file dropped on the body, a reload or going back would replace the
// message being written.
class BodyPage final : public QWebEnginePage {
public:
    explicit BodyPage(QObject* parent) : QWebEnginePage(parent) {}
    void expect(const QUrl& url) {
        expected_ = url;
        armed_ = true;
    }
    const QUrl& expected() const { return expected_; }
    int refused() const { return refused_; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (!isMainFrame) {
            return true;
        }
        if (!armed_ || url != expected_) {
            ++refused_;
            return false;
        }
        armed_ = false;
        return true;
    }

private:
    QUrl expected_;
    bool armed_ = false;
    int refused_ = 0;
};

namespace {

// Windows refuse to close while a routine waits: the waiting routine may
// belong to the window being closed.
class CloseBlocker final : public QObject {
public:
    CloseBlocker() { qApp->installEventFilter(this); }
    ~CloseBlocker() override { qApp->removeEventFilter(this); }
    CloseBlocker(const CloseBlocker&) = delete;
    CloseBlocker& operator=(const CloseBlocker&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        return false;
    }
};

// A JavaScript string literal (JSON is a subset) holding `text`.
QString scriptString(std::string_view text) {
    const QJsonArray array{toQString(text)};
    const QByteArray json = QJsonDocument(array).toJson(QJsonDocument::Compact);
    // "[...]" without the brackets.
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

std::string toStd(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value.toString().toStdString() : std::string();
}

} // namespace

BodyEditor::BodyEditor(store::EditorFormat format, QWidget* parent)
    : QWidget(parent), format_(format) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (format_ == store::EditorFormat::Html) {
        view_ = new QWebEngineView(this);
        page_ = new BodyPage(view_);
        view_->setPage(page_);
        // The body is the user's text, not a program: its scripts never run.
        // The editor's own helpers run in an isolated world, which this
        // switch does not touch.
        auto* settings = page_->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        // The temporary file carries no charset; its bytes are UTF-8.
        settings->setDefaultTextEncoding(u"UTF-8"_s);
        // Text without a font of its own shows in the desktop's sans-serif
        // font, as in the rest of the program (the engine's default is a
        // serif). Only the display changes: the sent HTML names no font.
        const QString desktopFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        settings->setFontFamily(QWebEngineSettings::StandardFont, desktopFont);
        settings->setFontFamily(QWebEngineSettings::SansSerifFont, desktopFont);
        // Only the end of the load the editor started counts: a fresh page
        // first finishes an initial blank document of its own.
        connect(page_, &QWebEnginePage::loadingChanged, this,
                [this](const QWebEngineLoadingInfo& info) {
                    if (info.url() != page_->expected()) {
                        return;
                    }
                    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
                        engineGone_ = false;
                    } else {
                        loading_ = false;
                        emit loadEnded();
                    }
                });
        connect(page_, &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                    if (status != QWebEnginePage::NormalTerminationStatus) {
                        engineGone_ = true;
                        loading_ = false;
                        emit engineFailed();
                    }
                });
        connect(page_, &QWebEnginePage::selectionChanged, this, &BodyEditor::selectionChanged);
        layout->addWidget(view_);
    } else {
        text_ = new QPlainTextEdit(this);
        connect(text_, &QPlainTextEdit::selectionChanged, this, &BodyEditor::selectionChanged);
        layout->addWidget(text_);
    }
}

BodyEditor::~BodyEditor() = default;

QString BodyEditor::temporaryDocumentPath() {
    if (view_ == nullptr) {
        return {};
    }
    if (!documentFolder_) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (base.isEmpty() || !QDir().mkpath(base)) {
            return {};
        }
        // Only the user may read what is being written.
        QFile::setPermissions(base, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        // mkdtemp: a fresh folder with owner-only access.
        auto folder = std::make_unique<QTemporaryDir>(QDir(base).filePath(u"body-XXXXXX"_s));
        if (!folder->isValid()) {
            return {};
        }
        documentFolder_ = std::move(folder);
    }
    return documentFolder_->filePath(u"temp_file.html"_s);
}

bool BodyEditor::runNestedLoop(QEventLoop& loop, int timeoutMs) {
    QPointer<BodyEditor> self(this);
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    ++waitDepth_;
    {
        CloseBlocker blocker;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!self) {
        return false;
    }
    --waitDepth_;
    return true;
}

bool BodyEditor::waitForDocument() {
    if (view_ == nullptr) {
        return false;
    }
    // The view reports no location until a load commits, so the editor's
    // own record of what it asked for tells whether anything was.
    if (page_->expected().isEmpty()) {
        const QUrl blank(u"about:blank"_s);
        page_->expect(blank);
        loading_ = true;
        view_->setUrl(blank);
    }
    if (loading_) {
        QEventLoop loop;
        connect(this, &BodyEditor::loadEnded, &loop, &QEventLoop::quit);
        if (!runNestedLoop(loop, documentTimeoutMs_)) {
            return false;
        }
    }
    return !loading_;
}

int BodyEditor::refusedNavigations() const {
    return page_ == nullptr ? 0 : page_->refused();
}

QVariant BodyEditor::evaluateScript(const QString& script) {
    if (view_ == nullptr || engineGone_) {
        return {};
    }
    struct Pending {
        QVariant result;
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    auto pending = std::make_shared<Pending>();
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [pending](const QVariant& result) {
                             pending->result = result;
                             pending->done = true;
                             if (pending->loop != nullptr) {
                                 pending->loop->quit();
                             }
                         });
    if (!pending->done) {
        QEventLoop loop;
        pending->loop = &loop;
        const bool alive = runNestedLoop(loop, scriptTimeoutMs_);
        pending->loop = nullptr;
        if (!alive) {
            return {};
        }
    }
    return pending->result;
}

QVariant BodyEditor::callHelper(const QString& call) {
    if (view_ == nullptr) {
        return {};
    }
    QPointer<BodyEditor> self(this);
    waitForDocument();
    if (!self) {
        return {};
    }
    return evaluateScript(u"("_s + bodyEditorHelperScript() + u")."_s + call);
}

int BodyEditor::loadBodyDocument(std::string_view html) {
    if (view_ == nullptr) {
        return -1;
    }
    const QString path = temporaryDocumentPath();
    if (path.isEmpty()) {
        return -1;
    }
    std::string error;
    if (!store::writeFileAtomically(path.toStdString(), std::string(html), error)) {
        return -1;
    }
    const QUrl url = QUrl::fromLocalFile(path);
    page_->expect(url);
    loading_ = true;
    view_->load(url);
    return 0;
}

int BodyEditor::setDesignMode(std::string_view mode) {
    const QVariant done = callHelper(u"setDesignMode(%1)"_s.arg(scriptString(mode)));
    return done.toBool() ? 1 : 0;
}

std::string BodyEditor::selectionProperty(std::string_view propertyName) {
    return toStd(callHelper(u"selectionProperty(%1)"_s.arg(scriptString(propertyName))));
}

std::string BodyEditor::selectionParentTag() {
    return toStd(callHelper(u"selectionParentTag()"_s));
}

void BodyEditor::replaceSelection(std::string_view html) {
    callHelper(u"replaceSelection(%1)"_s.arg(scriptString(html)));
}

int BodyEditor::runEditCommand(EditCommand command) {
    QString name;
    switch (command) {
    case EditCommand::Delete:
        name = u"delete"_s;
        break;
    case EditCommand::Undo:
        name = u"undo"_s;
        break;
    case EditCommand::Redo:
        name = u"redo"_s;
        break;
    }
    return callHelper(u"runEditCommand(%1)"_s.arg(scriptString(name.toStdString()))).toBool() ? 1
                                                                                              : 0;
}

std::string BodyEditor::documentSource() {
    return toStd(callHelper(u"documentSource()"_s));
}

void BodyEditor::replaceDocumentSource(std::string_view html) {
    callHelper(u"replaceDocumentSource(%1)"_s.arg(scriptString(html)));
}

void BodyEditor::focusBody() {
    if (view_ != nullptr) {
        view_->setFocus(Qt::OtherFocusReason);
    } else {
        text_->setFocus(Qt::OtherFocusReason);
    }
}

bool BodyEditor::hasSelection() const {
    return view_ != nullptr ? view_->hasSelection() : text_->textCursor().hasSelection();
}

std::string BodyEditor::bodyText() {
    if (text_ != nullptr) {
        return text_->toPlainText().toStdString();
    }
    return documentSource();
}

void BodyEditor::setPlainText(std::string_view text) {
    if (text_ != nullptr) {
        text_->setPlainText(toQString(text));
    }
}

void BodyEditor::insertText(std::string_view text) {
    if (text_ != nullptr) {
        text_->insertPlainText(toQString(text));
    } else {
        replaceSelection(delivery::escapeHtml(text));
    }
    focusBody();
}

void BodyEditor::undo() {
    if (text_ != nullptr) {
        text_->undo();
    } else {
        runEditCommand(EditCommand::Undo);
    }
    focusBody();
}

void BodyEditor::redo() {
    if (text_ != nullptr) {
        text_->redo();
    } else {
        runEditCommand(EditCommand::Redo);
    }
    focusBody();
}

void BodyEditor::cutSelection() {
    if (text_ != nullptr) {
        text_->cut();
        focusBody();
        return;
    }
    clipboard_->setText(compose::cutSelection(*this));
}

void BodyEditor::copySelection() {
    if (text_ != nullptr) {
        text_->copy();
        focusBody();
        return;
    }
    clipboard_->setText(compose::copySelection(*this));
}

void BodyEditor::pasteClipboard() {
    if (text_ != nullptr) {
        text_->paste();
        focusBody();
        return;
    }
    compose::pasteClipboard(*this, clipboard_->text());
}

} // namespace velmora::compose
