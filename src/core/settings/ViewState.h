#pragma once

#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// How the user left the window: its size and place, the sidebar, the tables' columns and sort
// order, the screens' check boxes. Kept in the settings file of the common-ports list, under keys
// of its own, and read back at the next start. One instance for the whole program.
//
// A value reads back only when what is stored is well-formed and in range; a missing or damaged
// one reads as nothing, and the caller keeps its default. Values are held in memory at once and
// written together shortly after the last change, or at once by flush(); the file is replaced
// whole, so that a program killed while writing leaves the old file or the new one.
class ViewState : public QObject {
    Q_OBJECT

public:
    // How long changes are gathered before they are written.
    static constexpr int writeDelayMs = 500;

    static ViewState& shared();

    std::optional<bool> flag(const QString& key) const;
    std::optional<int> number(const QString& key, int min, int max) const;
    // One of `allowed`, matched exactly.
    std::optional<QString> choice(const QString& key, const QStringList& allowed) const;
    // Both sides within 1 .. max.
    std::optional<QSize> size(const QString& key, int max) const;
    std::optional<QPoint> point(const QString& key) const;

    // A change: written with the next write, which it asks for.
    void set(const QString& key, const QVariant& value);
    // The value now in use, such as a default put in place of a damaged value: written with the
    // next write, whenever that comes, but asks for none. An invalid value removes the key.
    void keep(const QString& key, const QVariant& value);
    // Writes what waits to be written, now.
    void flush();

private:
    ViewState();

    QVariant stored(const QString& key) const;

    QVariantMap m_pending;
    QTimer m_write;
};
