#pragma once

#include "SystemdUnits.h"

#include <QHash>
#include <QString>

#include <mutex>
#include <optional>

// What a manager said about services, kept between listings. Whatever changes about a loaded
// service comes with a signal from its manager (a change of its properties, the unit loaded or
// unloaded, all units reloaded), and whoever hears one forgets what it concerns. A listing that
// began before a service was forgotten does not store it, since what it read may be older.
class ServiceCache {
public:
    std::optional<TimerService> find(const QString& service) const;
    // Counts what has been forgotten; a listing reads it when it begins.
    quint64 generation() const;
    // Kept unless the service was forgotten since `generation`.
    void store(quint64 generation, const TimerService& service);
    // By the unit's object path, as the signals name it.
    void forgetPath(const QString& path);
    void forgetAll();

private:
    mutable std::mutex m_mutex;
    quint64 m_generation = 0;
    quint64 m_allForgottenAt = 0;
    // By object path: what is kept, and when each unit was last forgotten.
    QHash<QString, TimerService> m_services;
    QHash<QString, quint64> m_forgottenAt;
};
