#pragma once

// Real property-list files written through libplist; the launchd folders and launchctl are
// FakeLaunchd's.

#include "FakeLaunchd.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariant>

#include <plist/plist.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace jobs_test {

inline plist_t toPlist(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t node = plist_new_dict();
        for (const auto& [key, item] : value.toMap().asKeyValueRange())
            plist_dict_set_item(node, key.toUtf8().constData(), toPlist(item));
        return node;
    }
    case QMetaType::QVariantList: {
        plist_t node = plist_new_array();
        for (const QVariant& item : value.toList())
            plist_array_append_item(node, toPlist(item));
        return node;
    }
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::Int:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

enum class Format { xml, binary };

inline QByteArray plistBytes(const QVariantMap& content, Format format)
{
    plist_t root = toPlist(content);
    char* data = nullptr;
    uint32_t length = 0;
    (format == Format::xml ? plist_to_xml : plist_to_bin)(root, &data, &length);
    QByteArray bytes(data, static_cast<qsizetype>(length));
    std::free(data);
    plist_free(root);
    return bytes;
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline void writePlist(const QString& path, const QVariantMap& content, Format format = Format::xml)
{
    writeFile(path, plistBytes(content, format));
}

} // namespace jobs_test
