#include "core/lists/csv_writer.h"

#include <QIODevice>
#include <QSaveFile>

namespace qarsilo {

namespace {

bool needsQuotes(const QString& field) {
    if (field.isEmpty())
        return false;
    for (QChar c : field)
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\n') ||
            c == QLatin1Char('\r'))
            return true;
    // Spreadsheets trim unquoted blanks at the ends of a field.
    return field.front().isSpace() || field.back().isSpace();
}

} // namespace

QString csvRecord(const QStringList& fields) {
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        const QString& f = fields[i];
        if (needsQuotes(f)) {
            QString quoted = f;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            line += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            line += f;
        }
    }
    line += QStringLiteral("\r\n");
    return line;
}

bool writeCsv(QIODevice& out, const QStringList& titles, const QList<QStringList>& rows,
              bool withBom, QString* error) {
    const auto fail = [&] {
        if (error)
            *error = out.errorString();
        return false;
    };
    if (withBom && out.write("\xEF\xBB\xBF", 3) != 3)
        return fail();
    // Written in blocks: one write per row would make a large list slow.
    QByteArray block = csvRecord(titles).toUtf8();
    for (const QStringList& row : rows) {
        block += csvRecord(row).toUtf8();
        if (block.size() >= 64 * 1024) {
            if (out.write(block) != block.size())
                return fail();
            block.clear();
        }
    }
    if (!block.isEmpty() && out.write(block) != block.size())
        return fail();
    return true;
}

bool writeCsvFile(const QString& path, const QStringList& titles, const QList<QStringList>& rows,
                  QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (!writeCsv(file, titles, rows, true, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace qarsilo
