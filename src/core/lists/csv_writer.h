#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace qarsilo {

/// One CSV record: fields joined by commas, a field quoted when it holds a
/// comma, a quote, a line break or leading or trailing blanks (quotes inside
/// doubled), the record ended by CR LF.
QString csvRecord(const QStringList& fields);

/// Writes a title record and then every row as UTF-8 CSV, as spreadsheets
/// read it: a byte order mark first when `withBom` (so that spreadsheets do
/// not guess a legacy code page). Returns false when the device fails; the
/// reason is in `error`.
bool writeCsv(QIODevice& out, const QStringList& titles, const QList<QStringList>& rows,
              bool withBom, QString* error = nullptr);

/// Writes the same to the file `path` (replaced atomically: a failed export
/// never leaves half a file behind).
bool writeCsvFile(const QString& path, const QStringList& titles, const QList<QStringList>& rows,
                  QString* error = nullptr);

} // namespace qarsilo
