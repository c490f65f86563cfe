#pragma once

#include <QString>
#include <QStringList>

namespace qarsilo {

/// A text as one field of a tab-separated line: every control character (tab,
/// line breaks, escape, NUL, DEL and the C1 controls) becomes a blank, so that a
/// text from the network or a stored book can neither split the field nor
/// start a line of its own, nor drive the terminal.
QString tabSeparatedField(QString text);

/// The fields, each as tabSeparatedField() makes it, joined by tabs.
QString tabSeparatedLine(const QStringList& fields);

} // namespace qarsilo
