#pragma once

// Real property-list files written through libplist, five temporary launchd folders, and a fake
// `launchctl` that records its arguments.

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

// Five launchd folders laid out as on a Mac, in the order in which they are read.
struct LaunchdFolders {
    LaunchdFolders()
    {
        for (const char* folder :
             {"Users/dev/Library/LaunchAgents", "Library/LaunchAgents", "Library/LaunchDaemons",
              "System/Library/LaunchAgents", "System/Library/LaunchDaemons"}) {
            folders.append(root.filePath(QString::fromLatin1(folder)));
            QDir().mkpath(folders.last());
        }
        Platform::testing::setLaunchdFolders(folders);
    }
    ~LaunchdFolders() { Platform::testing::setLaunchdFolders(std::nullopt); }
    QString file(int folder, const QString& name) const
    {
        return folders[folder - 1] + u'/' + name;
    }

    QTemporaryDir root;
    QStringList folders;
};

// A `launchctl` that logs each call as "[arg][arg]..." and answers each sub-command with the
// status, standard output and standard error set for it (status 0 and no output by default).
struct FakeLaunchctl {
    FakeLaunchctl()
    {
        const QString script = "#!/bin/sh\nd='" + dir.path() + "'\n" + R"sh(
for a in "$@"; do printf '[%s]' "$a"; done >> "$d/calls.log"; echo >> "$d/calls.log"
cat "$d/$1.out" 2>/dev/null; cat "$d/$1.err" >&2 2>/dev/null
exit "$(cat "$d/$1.status" 2>/dev/null || echo 0)")sh";
        writeFile(dir.filePath("launchctl"), script.toUtf8());
        QFile::setPermissions(dir.filePath("launchctl"), QFile::ReadOwner | QFile::ExeOwner);
        Platform::testing::setLaunchctlPath(dir.filePath("launchctl"));
    }
    ~FakeLaunchctl() { Platform::testing::setLaunchctlPath(std::nullopt); }

    void answer(const QString& subCommand, int status, const QByteArray& err = {}) const
    {
        writeFile(dir.filePath(subCommand + ".status"), QByteArray::number(status));
        writeFile(dir.filePath(subCommand + ".out"), "on stdout");
        writeFile(dir.filePath(subCommand + ".err"), err);
    }
    void table(const QByteArray& out) const { writeFile(dir.filePath("list.out"), out); }

    QStringList calls() const
    {
        QFile log(dir.filePath("calls.log"));
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    }

    QTemporaryDir dir;
};

} // namespace jobs_test
