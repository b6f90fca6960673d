#pragma once

#include "CellDelegate.h"

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>

// A cell of one line of plain text, and the model's icon before it, on the style's background,
// placed as the common style places them. Its texts are laid out once and kept: a table that
// follows the machine is repainted at every refresh with mostly the texts it showed before, and
// laying out a text costs the style far more than drawing it.
class TextDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    struct Key {
        QString text;
        QFont font;
        int width = 0;
        Qt::TextElideMode elide = Qt::ElideRight;
        bool operator==(const Key&) const = default;
    };
    friend size_t qHash(const Key& key, size_t seed)
    {
        return qHashMulti(seed, key.text, key.font, key.width, static_cast<int>(key.elide));
    }
    mutable QHash<Key, QStaticText> m_laidOut;

    const QStaticText& laidOut(const QString& text, const QFont& font, int width,
                               Qt::TextElideMode elide) const;
};
