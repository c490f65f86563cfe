#include "core/lists/tab_separated.h"

namespace qarsilo {

QString tabSeparatedField(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

QString tabSeparatedLine(const QStringList& fields) {
    QStringList cleaned;
    cleaned.reserve(fields.size());
    for (const QString& f : fields)
        cleaned << tabSeparatedField(f);
    return cleaned.join(QLatin1Char('\t'));
}

} // namespace qarsilo
