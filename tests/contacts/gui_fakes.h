#pragma once

#include "contacts/fake_views.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <QStringList>
#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace velmora::testing_support {

// Runs the deletions that closing a window scheduled.
inline void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The texts of a drop-down's items, in order.
inline QStringList comboItems(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) {
        items << box.itemText(i);
    }
    return items;
}

} // namespace velmora::testing_support
