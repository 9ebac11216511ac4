#pragma once

#include "contacts/fake_views.h"

#include <QCoreApplication>
#include <QEvent>
#include <QString>
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

} // namespace velmora::testing_support
