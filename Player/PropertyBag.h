#pragma once

#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

// The stored design of a control: named values, keys compared without regard
// to case.
class PropertyBag {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue = {}) const;
    void WriteProperty(const QString& name, const QVariant& value);

private:
    std::vector<std::pair<QString, QVariant>>::const_iterator Find(const QString& name) const;
    std::vector<std::pair<QString, QVariant>> m_values;
};
