#include "platform/qt_images.h"

#include <QString>

// The resource file lives in a static library: its initialiser must be
// pulled in by name, and only outside any namespace.
static void initProgramResources() {
    Q_INIT_RESOURCE(resources);
}

using namespace Qt::StringLiterals;

namespace velmora::platform {

bool ProgramImages::load() {
    initProgramResources();
    pixmaps_.assign(kCount, QPixmap());
    bool complete = true;
    for (int number = 0; number < kCount; ++number) {
        if (!pixmaps_[static_cast<std::size_t>(number)].load(u":/images/%1.png"_s.arg(number))) {
            complete = false;
        }
    }
    return complete;
}

const QPixmap& ProgramImages::pixmap(int number) const {
    if (number < 0 || static_cast<std::size_t>(number) >= pixmaps_.size()) {
        return empty_;
    }
    return pixmaps_[static_cast<std::size_t>(number)];
}

QIcon ProgramImages::icon(int number) const {
    const QPixmap& image = pixmap(number);
    return image.isNull() ? QIcon() : QIcon(image);
}

} // namespace velmora::platform
