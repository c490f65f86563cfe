#include "core/app/settings_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarsilo {

namespace {
const QString kOrganisation = QStringLiteral("qarsilo");
const QString kApplication = QStringLiteral("qarsilo");

std::unique_ptr<QSettings> open(const QString& iniPath) {
    if (iniPath.isEmpty())
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           kOrganisation, kApplication);
    return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

// A file that is not readable as settings (binary noise, another format) is
// the operator's: its readable values are used, the rest take their defaults,
// and it is never written over. Said once per file. Qt parses a file once per
// process and reports the error to the first reader only, so a damaged file
// is remembered with its size and time until it changes.
bool damaged(const QSettings& s) {
    (void)s.contains(QString()); // parsed on first use
    static std::mutex lock;
    static QHash<QString, QPair<qint64, QDateTime>> known;
    const std::lock_guard guard(lock);
    const QFileInfo file(s.fileName());
    const QPair<qint64, QDateTime> now(file.size(), file.lastModified());
    if (s.status() == QSettings::FormatError) {
        if (!known.contains(s.fileName()))
            qWarning("qarsilo: the settings file %s is damaged (not an INI file); settings that "
                     "cannot be read take their defaults, and changes are not kept until it is "
                     "repaired or removed",
                     qPrintable(s.fileName()));
        known.insert(s.fileName(), now);
        return true;
    }
    const auto it = known.constFind(s.fileName());
    if (it == known.cend())
        return false;
    if (*it == now)
        return true;
    known.remove(s.fileName());
    return false;
}

// A PostgreSQL URL with a password in it, after the user or as an option.
bool holdsPassword(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^postgres(ql)?://([^/@?]*:[^/@?]*@|[^?]*\\?(.*&)?password=)"),
        QRegularExpression::CaseInsensitiveOption);
    return form.match(text).hasMatch();
}

// A settings file that holds a password is for its owner's eyes only. Made
// so before the password is first written: the settings are written through a
// new file that takes the old one's permissions.
void keepPrivate(const QString& fileName) {
    const QByteArray name = QFile::encodeName(fileName);
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    if (::chmod(name.constData(), 0600) != 0)
        qWarning("qarsilo: could not make the settings file %s private", name.constData());
}

bool finish(QSettings& s) {
    s.sync();
    if (s.status() != QSettings::NoError) {
        qWarning("qarsilo: could not write the settings file %s", qPrintable(s.fileName()));
        return false;
    }
    const QStringList keys = s.allKeys();
    for (const QString& key : keys) {
        if (holdsPassword(s.value(key).toString())) {
            keepPrivate(s.fileName());
            break;
        }
    }
    return true;
}
} // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(QString iniPath)
    : m_iniPath(std::move(iniPath)) {}

bool SettingsStore::writeString(const QString& name, const QString& text) {
    auto s = open(m_iniPath);
    if (damaged(*s))
        return false;
    if (holdsPassword(text))
        keepPrivate(s->fileName());
    s->setValue(name, text);
    return finish(*s);
}

bool SettingsStore::writeNumber(const QString& name, quint32 value) {
    auto s = open(m_iniPath);
    if (damaged(*s))
        return false;
    s->setValue(name, value);
    return finish(*s);
}

bool SettingsStore::readString(const QString& name, QString& text) const {
    auto s = open(m_iniPath);
    damaged(*s);
    const QVariant v = s->value(name);
    if (!v.isValid())
        return false;
    text = v.toString();
    return true;
}

bool SettingsStore::readNumber(const QString& name, quint32& value) const {
    auto s = open(m_iniPath);
    damaged(*s);
    const QVariant v = s->value(name);
    if (!v.isValid())
        return false;
    bool ok = false;
    const qulonglong n = v.toULongLong(&ok);
    if (!ok || n > 0xFFFFFFFFull)
        return false;
    value = static_cast<quint32>(n);
    return true;
}

QString SettingsStore::string(const QString& name) const {
    QString text;
    readString(name, text);
    return text;
}

QString SettingsStore::fileName() const {
    return open(m_iniPath)->fileName();
}

quint32 storedTimeFormat() {
    quint32 format = 0;
    if (!SettingsStore().readNumber(setting::timeFormat, format) || format > 2)
        format = 0;
    return format;
}

quint32 storedReplaySpeed() {
    quint32 speed = 0;
    if (!SettingsStore().readNumber(setting::replaySpeed, speed) || speed > 2)
        speed = 0;
    return speed;
}

quint32 storedChartType() {
    quint32 type = 0;
    if (!SettingsStore().readNumber(setting::chartType, type) || type > 1)
        type = 0;
    return type;
}

} // namespace qarsilo
