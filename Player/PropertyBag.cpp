#include "PropertyBag.h"

#include <QStringList>
#include <algorithm>

std::vector<std::pair<QString, QVariant>>::const_iterator PropertyBag::Find(const QString& name) const
{
    return std::find_if(m_values.begin(), m_values.end(), [&](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const
{
    const auto found = Find(name);
    return found == m_values.end() ? defaultValue : found->second;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue)
{
    const auto found = Find(name);
    if (found != m_values.end())
        m_values.erase(found);
    const bool isDefault = value.isValid() == defaultValue.isValid() && (!value.isValid() || value == defaultValue);
    if (!isDefault)
        m_values.emplace_back(name, value);
}

bool PropertyBag::Contains(const QString& name) const
{
    return Find(name) != m_values.end();
}

QStringList PropertyBag::Keys() const
{
    QStringList keys;
    for (const auto& entry : m_values)
        keys << entry.first;
    return keys;
}
