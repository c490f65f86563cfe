#include "settings/settings_store.h"

#include <QSettings>
#include <memory>

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

bool finish(QSettings& s) {
    s.sync();
    if (s.status() != QSettings::NoError) {
        qWarning("qarsilo: could not write the settings file %s", qPrintable(s.fileName()));
        return false;
    }
    return true;
}
} // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(QString iniPath)
    : m_iniPath(std::move(iniPath)) {}

bool SettingsStore::writeString(const QString& name, const QString& text) {
    auto s = open(m_iniPath);
    s->setValue(name, text);
    return finish(*s);
}

bool SettingsStore::writeNumber(const QString& name, quint32 value) {
    auto s = open(m_iniPath);
    s->setValue(name, value);
    return finish(*s);
}

bool SettingsStore::readString(const QString& name, QString& text) const {
    auto s = open(m_iniPath);
    const QVariant v = s->value(name);
    if (!v.isValid())
        return false;
    text = v.toString();
    return true;
}

bool SettingsStore::readNumber(const QString& name, quint32& value) const {
    auto s = open(m_iniPath);
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

} // namespace qarsilo
