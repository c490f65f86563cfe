#include "core/capture/native_path.h"

#include <sys/stat.h>

namespace qarsilo {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at `s` (1 to 4), or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF included).
int utf8SequenceLength(const unsigned char* s, qsizetype left) {
    const unsigned char c = s[0];
    if (c < 0x80)
        return 1;
    int n = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2, value = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, value = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, value = c & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (int i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return n;
}

bool isEscapedByte(char16_t u) {
    return u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF;
}

} // namespace

QString fileNameFromNative(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int n = utf8SequenceLength(s + i, bytes.size() - i);
        if (n == 0) {
            out.append(QChar(static_cast<char16_t>(kEscapeBase + s[i])));
            ++i;
            continue;
        }
        out.append(QString::fromUtf8(bytes.constData() + i, n));
        i += n;
    }
    return out;
}

QByteArray nativeFileName(const QString& name) {
    QByteArray out;
    out.reserve(name.size());
    qsizetype start = 0; // first character of the run not yet converted
    const auto flush = [&](qsizetype end) {
        if (end > start)
            out.append(QStringView(name).mid(start, end - start).toUtf8());
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        // A lone escape (not the low half of a pair) stands for one raw byte.
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (isEscapedByte(u) && !paired) {
            flush(i);
            out.append(static_cast<char>(u - kEscapeBase));
            start = i + 1;
        }
    }
    flush(name.size());
    return out;
}

QString displayFileName(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (isEscapedByte(u) && !paired)
            out += QStringLiteral("\\x") + QString::number(u - kEscapeBase, 16).toUpper();
        else
            out.append(name.at(i));
    }
    return out;
}

QString captureFileOpenError(const QString& name, const QString& error) {
    struct stat st {};
    if (::stat(nativeFileName(name).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0)
        return QStringLiteral("%1: the file is empty").arg(displayFileName(name));
    return error;
}

} // namespace qarsilo
