#pragma once

#include "platform/image_names.h"

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace velmora::platform {

// The program's 41 images (numbers 0 to 40), decoded once at start-up from
// the data compiled into the program.
class ProgramImages {
public:
    static constexpr int kCount = kImageCount;

    // Decodes every image; false when one is missing or unreadable.
    bool load();
    // An empty pixmap for a number out of range or before load().
    const QPixmap& pixmap(int number) const;
    QIcon icon(int number) const;
    const QPixmap& pixmap(ImageName name) const { return pixmap(imageNumber(name)); }
    QIcon icon(ImageName name) const { return icon(imageNumber(name)); }

private:
    std::vector<QPixmap> pixmaps_;
    QPixmap empty_;
};

} // namespace velmora::platform
