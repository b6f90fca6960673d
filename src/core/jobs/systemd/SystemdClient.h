#pragma once

#include "ServiceCache.h"
#include "SystemdUnits.h"

#include <QDBusConnection>
#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

// One systemd manager (the user's on the session bus, or the machine's on the system bus), over
// org.freedesktop.systemd1. Every call blocks and may be made from any thread.
class SystemdClient {
public:
    static const QString service;
    static const QString managerPath;
    static const QString managerInterface;

    // `interactive`: actions may ask the user to authorise them (polkit), as the system manager's
    // do for a user who is not root.
    SystemdClient(QDBusConnection bus, bool interactive);

    enum class Reach {
        reached,
        // No bus, or no manager on it.
        absent,
        // The manager was asked and did not answer as it should.
        failed,
    };

    struct Reading {
        Reach reach = Reach::reached;
        // The bus error's message, unless reached.
        QString error;
        TimerSnapshot snapshot;
    };

    // Every timer unit, loaded or not (templates aside), with the service each one starts.
    // Services come from `cache` where it has them, and go into it, when there is one.
    Reading readTimers(ServiceCache* cache = nullptr) const;

    // Each returns the bus error's message, or nothing when the manager did it.
    std::optional<QString> startUnit(const QString& unit) const;
    std::optional<QString> stopUnit(const QString& unit) const;
    // `systemctl enable --now` and `systemctl disable --now`.
    std::optional<QString> enableNow(const QString& unit) const;
    std::optional<QString> disableNow(const QString& unit) const;

    // The service the timer started at the last listing, else the one of its own name.
    QString serviceOf(const QString& timer) const;

    // Asks the manager to send its change signals to this connection; true once it has agreed.
    bool subscribe() const;

    QDBusConnection bus() const;

    // The object path of a unit: every byte of its name that is not an ASCII letter or digit
    // written as "_" and two hexadecimal digits.
    static QString unitPath(const QString& unit);

private:
    QDBusConnection m_bus;
    bool m_interactive;
    mutable std::mutex m_mutex;
    // The manager's UnitPath, once read.
    mutable std::optional<QStringList> m_unitFolders;
    // The service each timer started at the last listing.
    mutable QHash<QString, QString> m_serviceOfTimer;

    std::optional<QString> call(const QString& method, const QVariantList& arguments) const;
};
