#pragma once

#include <QRandomGenerator>
#include <QUuid>
#include <QtGlobal>

#include <array>

// Random version-4 UUIDs like QUuid::createUuid(), drawn from a xoshiro256** generator seeded
// once per listing from the system's entropy: asking the system for every record would cost
// more than the whole parse of the listing.
class FreshIds {
public:
    FreshIds()
    {
        QRandomGenerator::system()->fillRange(state_.data(), static_cast<qsizetype>(state_.size()));
        if (state_ == std::array<quint64, 4>{})
            state_[0] = 1; // the one state the generator cannot leave
    }

    QUuid next()
    {
        const quint64 high = draw();
        const quint64 low = draw();
        return QUuid(static_cast<uint>(high >> 32), static_cast<ushort>(high >> 16),
                     static_cast<ushort>((high & 0x0fff) | 0x4000),   // version 4
                     static_cast<uchar>(((low >> 56) & 0x3f) | 0x80), // RFC 4122 variant
                     static_cast<uchar>(low >> 48), static_cast<uchar>(low >> 40),
                     static_cast<uchar>(low >> 32), static_cast<uchar>(low >> 24),
                     static_cast<uchar>(low >> 16), static_cast<uchar>(low >> 8),
                     static_cast<uchar>(low));
    }

private:
    static quint64 rotate(quint64 x, int k) { return (x << k) | (x >> (64 - k)); }

    quint64 draw()
    {
        const quint64 result = rotate(state_[1] * 5, 7) * 9;
        const quint64 t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotate(state_[3], 45);
        return result;
    }

    std::array<quint64, 4> state_{};
};
