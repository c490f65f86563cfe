#pragma once

#include <QStringList>
#include <initializer_list>

namespace qarsilo::test {

/// A string list from literals (the project builds without implicit
/// conversions from char strings).
inline QStringList words(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* i : items)
        out << QString::fromUtf8(i);
    return out;
}

} // namespace qarsilo::test
