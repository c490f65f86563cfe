#pragma once

#include <QCollator>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace qarsilo {

/// How the sortable report list reads a cell text when it compares two rows.
enum class ReportTextKind {
    Number, ///< only decimal digits (an empty text counts as a number)
    Date,   ///< "dd/mm/yyyy"
    Text,   ///< anything else
};

/// The kind of `text` as the comparison sees it.
ReportTextKind reportTextKind(QStringView text);

/// Compares two cell texts the way the report list sorts them: the kind is
/// decided by `a` alone. Numbers compare by their leading digits (a text
/// without any counts as 0, and numbers of any length compare exactly), dates
/// by year, month and day, everything else case-sensitively in the user's
/// locale. Negative, zero or positive.
///
/// Because `a` alone decides the kind the comparison is not symmetric for
/// mixed columns ("10a" against "9" is text, "9" against "10a" a number); the
/// list's sort is built to stay safe with that.
int compareReportTexts(QStringView a, QStringView b);

/// A set of texts that the list's sort orders as their code units, in the
/// current locale, so that a database can order them by their bytes.
struct CodeUnitOrderedTexts {
    /// The characters the texts are made of (ASCII).
    QString alphabet;
    /// Texts of one fixed form: "HH:HH:HH:HH:HH:HH", each H from the
    /// alphabet (MAC addresses); otherwise any text of the alphabet that
    /// is neither all digits nor a date.
    bool macForm = false;
};

/// The sets of texts that, with empty texts beside them, the report list
/// sorts exactly as their code units in the current locale: in the C locale
/// every ASCII text; elsewhere the upper- and lower-case letters with digits,
/// blanks, dots and hyphens, and MAC addresses, each kept only when the
/// locale's collation is found to order them so. Worked out once.
const std::vector<CodeUnitOrderedTexts>& codeUnitOrderedTexts();

/// compareReportTexts over one column's texts, prepared once for a sort: each
/// text is classified once, and when any text compares as text every text gets
/// its collation key, so a comparison is a byte compare rather than a run of
/// the locale's collation. Gives exactly the results of compareReportTexts.
class ReportColumnOrder {
public:
    explicit ReportColumnOrder(QStringList texts);
    /// compareReportTexts(text a, text b).
    int compare(qsizetype a, qsizetype b) const;

private:
    QStringList m_texts;
    std::vector<ReportTextKind> m_kinds;
    std::vector<QCollatorSortKey> m_keys; // empty: no text compares as text
    bool m_plain = false;                 // the C locale orders by code units
};

} // namespace qarsilo
