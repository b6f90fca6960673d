#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <chrono>

class QPalette;

// Rows that have just appeared in a table, tinted with the accent colour, which fades out over a
// few seconds. A row is known by its identity: a text the table's model makes from what tells its
// rows apart (never their position), so that the tint stays with its row while others come, go or
// move. The model marks each row as it appears and answers Qt::BackgroundRole with background();
// the view repaints on faded().
class RowTint : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds duration{3000};

    explicit RowTint(QObject* parent = nullptr);

    // The row with this identity has just appeared.
    void mark(const QString& identity);
    // Whether no row is tinted now (a model can skip making identities then).
    bool isEmpty() const { return m_marked.isEmpty(); }
    // Whether the row needs painting at the next frame: it is tinted, or its tint has just faded
    // out and it still shows the last trace of it.
    bool isTinted(const QString& identity) const { return m_marked.contains(identity); }
    // The row's background now: the accent colour, fading to nothing; nothing once it has faded
    // or for a row never marked.
    QVariant background(const QString& identity, const QPalette& palette) const;

signals:
    // The tints have moved on a step: the rows for which isTinted() holds need painting again.
    void faded();

private:
    QElapsedTimer m_clock;
    QTimer m_frames;
    // When each row was marked, in milliseconds of m_clock; kept one frame past its fade.
    QHash<QString, qint64> m_marked;

    void step();
};
