#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

// One entry of the user's common-ports list; identified by its port.
struct CommonPort {
    qint64 port = 0;
    QString note;

    qint64 id() const { return port; }
    bool operator==(const CommonPort&) const = default;
};

size_t qHash(const CommonPort& entry, size_t seed = 0);

// The user's common-ports list, kept between runs. One instance for the whole program.
class AppSettings : public QObject {
    Q_OBJECT

public:
    // Created on first use and kept until the program ends.
    static AppSettings& shared();
    // A separate instance that reads the stored list afresh, as a new run of the program would.
    static std::unique_ptr<AppSettings> createForTesting();
    static const QList<CommonPort>& defaultPorts();

    const QList<CommonPort>& commonPorts() const;
    // Replaces the list, stores it at once and notifies, even when the list is the same.
    void setCommonPorts(const QList<CommonPort>& ports);
    QSet<qint64> portNumbers() const;

    // Appends the entry unless its port is listed already, then sorts the list by port.
    void add(qint64 port, const QString& note);
    // Removes every entry with this entry's port.
    void remove(const CommonPort& entry);

signals:
    void commonPortsChanged();

private:
    AppSettings();
    void persist();

    QList<CommonPort> m_commonPorts;
};
