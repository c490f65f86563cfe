#pragma once

#include <QString>
#include <functional>
#include <map>

class CView;
class QWidget;

/// Which views exist and how to make them, by view number. The frame offers
/// only the views its registry knows; commands of the others are disabled.
class ViewRegistry {
public:
    using Factory = std::function<CView*(QWidget* parent)>;

    void add(int templateId, QString className, Factory factory);
    bool has(int templateId) const { return m_entries.count(templateId) != 0; }
    /// A new view of that number, or null when there is none.
    CView* create(int templateId, QWidget* parent) const;
    QString className(int templateId) const;

private:
    struct Entry {
        QString className;
        Factory factory;
    };
    std::map<int, Entry> m_entries;
};
