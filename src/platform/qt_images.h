#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace velmora::platform {

// The program's 41 images (numbers 0 to 40), decoded once at start-up from
// the data compiled into the program.
class ProgramImages {
public:
    static constexpr int kCount = 41;
    static constexpr int kBanner = 39;

    // Decodes every image; false when one is missing or unreadable.
    bool load();
    // An empty pixmap for a number out of range or before load().
    const QPixmap& pixmap(int number) const;
    QIcon icon(int number) const;

private:
    std::vector<QPixmap> pixmaps_;
    QPixmap empty_;
};

} // namespace velmora::platform
