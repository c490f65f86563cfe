#include "gui/widgets/mask_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kMac = QStringLiteral("99:99:99:99:99:99");
const QString kMacTemplate = QStringLiteral("__:__:__:__:__:__");
const QString kZeroMac = QStringLiteral("00:00:00:00:00:00");

// Keys written as text: "\b" is backspace, "<" Left, ">" Right, "D" Delete,
// "I" Insert, "H" Home, "E" End, "W" Ctrl+Backspace, "X" Ctrl+X, "K" Ctrl+Delete;
// anything else is typed.
void press(CMaskEdit& edit, const QString& keys) {
    for (QChar c : keys) {
        switch (c.unicode()) {
        case '\b':
            QTest::keyClick(&edit, Qt::Key_Backspace);
            break;
        case '<':
            QTest::keyClick(&edit, Qt::Key_Left);
            break;
        case '>':
            QTest::keyClick(&edit, Qt::Key_Right);
            break;
        case 'D':
            QTest::keyClick(&edit, Qt::Key_Delete);
            break;
        case 'I':
            QTest::keyClick(&edit, Qt::Key_Insert);
            break;
        case 'H':
            QTest::keyClick(&edit, Qt::Key_Home);
            break;
        case 'E':
            QTest::keyClick(&edit, Qt::Key_End);
            break;
        case 'W':
            QTest::keyClick(&edit, Qt::Key_Backspace, Qt::ControlModifier);
            break;
        case 'X':
            QTest::keyClick(&edit, Qt::Key_X, Qt::ControlModifier);
            break;
        case 'K':
            QTest::keyClick(&edit, Qt::Key_Delete, Qt::ControlModifier);
            break;
        default:
            QTest::keyClick(&edit, c.toLatin1());
            break;
        }
    }
}

} // namespace

class TestMaskEdit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typing_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("finalCaret");
        QTest::addColumn<int>("refusals");
        QTest::newRow("digits overwrite and step over the colon") << kZeroMac << 0 << "1234"
                                                                  << "12:34:00:00:00:00" << 6 << 0;
        QTest::newRow("letters are refused, hex ones too")
            << kZeroMac << 0 << "ag" << kZeroMac << 0 << 2;
        QTest::newRow("punctuation refused") << kZeroMac << 0 << "-." << kZeroMac << 0 << 2;
        QTest::newRow("backspace after the third digit restores 0")
            << kZeroMac << 0 << "123\b"
            << "12:00:00:00:00:00" << 3 << 0;
        QTest::newRow("backspace restores the initial text, not a zero")
            << "11:22:33:44:55:66" << 0 << "999\b"
            << "99:22:33:44:55:66" << 3 << 0;
        QTest::newRow("backspace over a separator only moves")
            << kZeroMac << 3 << "\b" << kZeroMac << 2 << 0;
        QTest::newRow("backspace at the start is refused")
            << kZeroMac << 0 << "\b" << kZeroMac << 0 << 1;
        QTest::newRow("typing at the end is refused")
            << kZeroMac << 17 << "5" << kZeroMac << 17 << 1;
        QTest::newRow("the last position takes a digit") << kZeroMac << 16 << "7"
                                                         << "00:00:00:00:00:07" << 17 << 0;
        QTest::newRow("on a separator: it is typed first") << kZeroMac << 2 << "5"
                                                           << "00:50:00:00:00:00" << 4 << 0;
        QTest::newRow("a colon on a separator is refused after the step")
            << kZeroMac << 2 << ":" << kZeroMac << 3 << 1;
        QTest::newRow("delete and insert do nothing")
            << kZeroMac << 4 << "DI" << kZeroMac << 4 << 0;
        QTest::newRow("moving keeps the text") << kZeroMac << 0 << ">>>9"
                                               << "00:90:00:00:00:00" << 4 << 0;
        QTest::newRow("word delete cannot shorten the text") << "12:34:56:78:90:12" << 17 << "W"
                                                             << "12:34:56:78:90:12" << 17 << 1;
        QTest::newRow("word delete forward cannot shorten the text")
            << "12:34:56:78:90:12" << 3 << "K"
            << "12:34:56:78:90:12" << 3 << 1;
        QTest::newRow("a short initial text is made to fit") << "12:3" << 0 << ""
                                                             << "12:3_:__:__:__:__" << 0 << 0;
        QTest::newRow("separators are put in place") << "12x34y56z78-90+12" << 0 << ""
                                                     << "12:34:56:78:90:12" << 0 << 0;
    }

    void typing() {
        QFETCH(QString, initial);
        QFETCH(int, caret);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(int, finalCaret);
        QFETCH(int, refusals);
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, initial);
        QSignalSpy refused(&edit, &CMaskEdit::refused);
        edit.setCursorPosition(caret);
        press(edit, keys);
        QCOMPARE(edit.text(), text);
        QCOMPARE(edit.cursorPosition(), finalCaret);
        QCOMPARE(refused.count(), refusals);
        QCOMPARE(edit.text().size(), kMac.size());
    }

    void selectionCollapsesToItsStart() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, kZeroMac);
        edit.setSelection(3, 5);
        press(edit, QStringLiteral("7"));
        QCOMPARE(edit.text(), QStringLiteral("00:70:00:00:00:00"));
        QCOMPARE(edit.cursorPosition(), 4);
        // Backspace with a selection is refused.
        QSignalSpy refused(&edit, &CMaskEdit::refused);
        edit.setSelection(0, 2);
        press(edit, QStringLiteral("\b"));
        QCOMPARE(refused.count(), 1);
        QCOMPARE(edit.text(), QStringLiteral("00:70:00:00:00:00"));
    }

    void extraCharactersAreTakenAnywhere() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, kZeroMac);
        edit.setExtraCharacters(QStringLiteral("abcdefABCDEF"));
        edit.setCursorPosition(0);
        press(edit, QStringLiteral("aB1fg"));
        QCOMPARE(edit.text(), QStringLiteral("aB:1f:00:00:00:00"));
    }

    void pasteTypesThroughTheMask() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, kZeroMac);
        edit.setExtraCharacters(QStringLiteral("abcdefABCDEF"));
        QApplication::clipboard()->setText(QStringLiteral("00:1a:2b:3c:4d:5e"));
        edit.setCursorPosition(0);
        QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit.text(), QStringLiteral("00:1a:2b:3c:4d:5e"));
        // Whatever is pasted, the length stays; a refused character stops it.
        QApplication::clipboard()->setText(QStringLiteral("12zz34"));
        edit.setCursorPosition(0);
        QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit.text(), QStringLiteral("12:1a:2b:3c:4d:5e"));
    }

    void cutOnlyCopies() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, QStringLiteral("12:34:56:78:90:12"));
        edit.selectAll();
        press(edit, QStringLiteral("X"));
        QCOMPARE(edit.text(), QStringLiteral("12:34:56:78:90:12"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("12:34:56:78:90:12"));
    }

    void ipv6Field() {
        CMaskEdit edit;
        edit.setUp(QStringLiteral("9999:9999:9999:9999:9999:9999:9999:9999"),
                   QStringLiteral("____:____:____:____:____:____:____:____"),
                   QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0000"));
        edit.setCursorPosition(0);
        press(edit, QStringLiteral("20010db8"));
        // "d" and "b" are not digits: refused without moving.
        QCOMPARE(edit.text(), QStringLiteral("2001:0800:0000:0000:0000:0000:0000:0000"));
        QCOMPARE(edit.cursorPosition(), 7);
    }

    void unmaskedIsAPlainField() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, kZeroMac);
        edit.setMasked(false);
        edit.setMaxLength(100);
        edit.setCursorPosition(0);
        press(edit, QStringLiteral("ab"));
        QCOMPARE(edit.text(), QStringLiteral("ab") + kZeroMac);
    }

    void readOnlyIgnoresTyping() {
        CMaskEdit edit;
        edit.setUp(kMac, kMacTemplate, kZeroMac);
        edit.setReadOnly(true);
        edit.setCursorPosition(0);
        press(edit, QStringLiteral("12\b"));
        QCOMPARE(edit.text(), kZeroMac);
    }
};

QTEST_MAIN(TestMaskEdit)
#include "tst_mask_edit.moc"
