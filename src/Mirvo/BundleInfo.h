#pragma once

#include <QVariantMap>

namespace mirvo {

// The application's information dictionary: version, build and the optional update-manifest address.
class BundleInfo {
public:
    BundleInfo() = default;
    explicit BundleInfo(QVariantMap values)
        : m_values(std::move(values))
    {
    }

    // The running application's own values.
    static BundleInfo main();

    QVariant value(const QString& key) const { return m_values.value(key); }

private:
    QVariantMap m_values;
};

} // namespace mirvo
