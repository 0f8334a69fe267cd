#include "PropertyBag.h"

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

void PropertyBag::WriteProperty(const QString& name, const QVariant& value)
{
    const auto found = Find(name);
    if (found != m_values.end())
        m_values.erase(found);
    if (value.isValid())
        m_values.emplace_back(name, value);
}
