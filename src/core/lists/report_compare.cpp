#include "core/lists/report_compare.h"

#include <QLocale>
#include <QMutex>
#include <QString>

#include <algorithm>
#include <map>
#include <optional>

namespace qarsilo {

namespace {

int sign(int v) {
    return (v > 0) - (v < 0);
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The run of decimal digits at the start of `text`, without leading zeros.
QStringView leadingDigits(QStringView text) {
    qsizetype end = 0;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    qsizetype start = 0;
    while (start < end && text[start] == QLatin1Char('0'))
        ++start;
    return text.mid(start, end - start);
}

// Compares the leading numbers of two texts without converting them, so that
// a long run of digits cannot overflow.
int compareLeadingNumbers(QStringView a, QStringView b) {
    const QStringView da = leadingDigits(a);
    const QStringView db = leadingDigits(b);
    if (da.size() != db.size())
        return da.size() < db.size() ? -1 : 1;
    return sign(da.compare(db));
}

// The number in `text` at [pos, pos + len), read as leading digits; positions
// past the end of a shorter text read as nothing, which counts as 0.
int compareDatePart(QStringView a, QStringView b, qsizetype pos, qsizetype len) {
    const auto part = [&](QStringView t) {
        return pos < t.size() ? t.mid(pos, len) : QStringView();
    };
    return compareLeadingNumbers(part(a), part(b));
}

} // namespace

ReportTextKind reportTextKind(QStringView text) {
    bool allDigits = true;
    for (QChar c : text)
        allDigits = allDigits && isDigit(c);
    if (allDigits)
        return ReportTextKind::Number;
    if (text.size() == 10 && text[2] == QLatin1Char('/') && text[5] == QLatin1Char('/')) {
        bool digits = true;
        for (qsizetype i : {0, 1, 3, 4, 6, 7, 8, 9})
            digits = digits && isDigit(text[i]);
        if (digits)
            return ReportTextKind::Date;
    }
    return ReportTextKind::Text;
}

namespace {

int compareAs(ReportTextKind kind, QStringView a, QStringView b) {
    switch (kind) {
    case ReportTextKind::Number:
        return compareLeadingNumbers(a, b);
    case ReportTextKind::Date:
        if (int c = compareDatePart(a, b, 6, 4))
            return c;
        if (int c = compareDatePart(a, b, 3, 2))
            return c;
        return compareDatePart(a, b, 0, 2);
    case ReportTextKind::Text:
        break;
    }
    return sign(QString::localeAwareCompare(a, b));
}

} // namespace

int compareReportTexts(QStringView a, QStringView b) {
    return compareAs(reportTextKind(a), a, b);
}

ReportColumnOrder::ReportColumnOrder(QStringList texts)
    : m_texts(std::move(texts)) {
    m_kinds.reserve(size_t(m_texts.size()));
    bool anyText = false;
    for (const QString& t : std::as_const(m_texts)) {
        m_kinds.push_back(reportTextKind(t));
        anyText = anyText || m_kinds.back() == ReportTextKind::Text;
    }
    if (!anyText)
        return;
    // The collator QString::localeAwareCompare uses: the default locale's.
    const QCollator collator;
    m_plain = collator.locale().language() == QLocale::C;
    if (m_plain)
        return;
    m_keys.reserve(size_t(m_texts.size()));
    for (const QString& t : std::as_const(m_texts))
        m_keys.push_back(collator.sortKey(t));
}

int ReportColumnOrder::compare(qsizetype a, qsizetype b) const {
    const QString& ta = m_texts[a];
    const QString& tb = m_texts[b];
    const ReportTextKind kind = m_kinds[size_t(a)];
    if (kind != ReportTextKind::Text)
        return compareAs(kind, ta, tb);
    // As localeAwareCompare: an empty text comes first whatever the locale.
    if (tb.isEmpty())
        return 1;
    if (m_plain)
        return sign(QStringView(ta).compare(QStringView(tb)));
    return sign(m_keys[size_t(a)].compare(m_keys[size_t(b)]));
}

namespace {

// Whether the collator orders every text of `alphabet` up to three
// characters long exactly as its code units, no two texts equal: that finds
// a locale's own rules (letters that sort after Z, pairs that count as one
// letter, blanks or punctuation it passes over) on the letters at hand.
bool collatesAsCodeUnits(const QCollator& collator, const QString& alphabet) {
    QString sorted = alphabet;
    std::sort(sorted.begin(), sorted.end());
    QStringList texts;
    for (QChar a : std::as_const(sorted)) {
        texts << QString(a);
        for (QChar b : std::as_const(sorted)) {
            texts << QString(a) + b;
            for (QChar c : std::as_const(sorted))
                texts << QString(a) + b + c;
        }
    }
    std::sort(texts.begin(), texts.end());
    std::optional<QCollatorSortKey> prior;
    for (const QString& t : std::as_const(texts)) {
        QCollatorSortKey key = collator.sortKey(t);
        if (prior && prior->compare(key) >= 0)
            return false;
        prior = std::move(key);
    }
    return true;
}

} // namespace

const std::vector<CodeUnitOrderedTexts>& codeUnitOrderedTexts() {
    // By locale: the default one may be set after the first sort.
    static QMutex lock;
    static std::map<QString, std::vector<CodeUnitOrderedTexts>> byLocale;
    const QCollator collator;
    const QMutexLocker locked(&lock);
    auto known = byLocale.find(collator.locale().name());
    if (known != byLocale.end())
        return known->second;
    return byLocale[collator.locale().name()] = [&collator] {
        std::vector<CodeUnitOrderedTexts> out;
        if (collator.locale().language() == QLocale::C) {
            QString ascii;
            for (char16_t c = 1; c < 128; ++c)
                ascii += QChar(c);
            out.push_back({ascii, false});
            return out;
        }
        const QString digits = QStringLiteral("0123456789");
        const QString marks = QStringLiteral(" -.");
        const QString upper = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        const QString lower = upper.toLower();
        for (const QString& letters : {upper, lower})
            if (collatesAsCodeUnits(collator, marks + digits + letters))
                out.push_back({marks + digits + letters, false});
        for (const QString& letters : {lower, upper}) {
            const QString hex = digits + letters.left(6);
            // The colons stand at the same places in every address, so only
            // the hex digits decide.
            if (collatesAsCodeUnits(collator, hex))
                out.push_back({hex, true});
        }
        return out;
    }();
}

} // namespace qarsilo
