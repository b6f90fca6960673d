#pragma once

// The values of a decoded property list, read through one of two small views with the same
// questions (is it a dictionary, an array, a text, an integer; what is under a key): one over
// libplist's nodes, as files give them, and one over QVariant, for callers that build values by
// hand. Inner part of the launchd source; not part of the library's public face.

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <plist/plist.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

namespace LaunchctlManager::PlistValues {

// A real that is exactly an integer within range. 2^63 is exact as a double; anything from there
// up does not fit a qint64.
inline std::optional<qint64> integerFromReal(double real)
{
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(real) || std::trunc(real) != real || real < -limit || real >= limit)
        return std::nullopt;
    return static_cast<qint64>(real);
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct DictIterFree {
    void operator()(void* iter) const { std::free(iter); }
};

// Calls visit(keyNode, value) for each entry until it returns false. The binary decoder accepts
// any object as a key, and the library's accessor for a key's text aborts on keys holding a NUL
// character, so keys are only type-checked and compared (as text up to any NUL), never read out.
template <typename Visit> void forEachEntry(plist_t dict, Visit visit)
{
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(dict, &rawIter);
    const std::unique_ptr<void, DictIterFree> iter(rawIter);
    if (!iter)
        return;
    for (;;) {
        plist_t value = nullptr;
        plist_dict_next_item(dict, rawIter, nullptr, &value);
        if (!value || !visit(plist_dict_item_get_key(value), value))
            return;
    }
}

// The only keys any rule reads: the first five at the top level of a file, the other five in a
// calendar entry.
inline constexpr std::array<std::string_view, 10> knownKeys{
    "Label",         "ProgramArguments",
    "Program",       "StartCalendarInterval",
    "StartInterval", "Weekday",
    "Day",           "Month",
    "Hour",          "Minute"};
inline constexpr std::size_t entryKeysBegin = 5;

constexpr std::size_t knownKeyIndex(std::string_view key)
{
    return static_cast<std::size_t>(std::find(knownKeys.begin(), knownKeys.end(), key) -
                                    knownKeys.begin());
}

class PlistView {
public:
    // The whole file's dictionary.
    static PlistView root(plist_t node) { return PlistView(node, 0, entryKeysBegin); }

    // A dictionary counts only when all its keys are text.
    bool isDictionary() const { return type_ == PLIST_DICT && textKeys_; }
    bool isArray() const { return type_ == PLIST_ARRAY; }
    qsizetype size() const { return plist_array_get_size(node_); }
    PlistView at(qsizetype i) const
    {
        return PlistView(plist_array_get_item(node_, static_cast<uint32_t>(i)));
    }

    // The first entry under this key, of a dictionary.
    std::optional<PlistView> value(std::string_view key) const
    {
        const std::size_t index = knownKeyIndex(key);
        if (index >= known_.size() || !known_[index])
            return std::nullopt;
        return PlistView(known_[index]);
    }

    std::optional<QString> text() const
    {
        if (type_ != PLIST_STRING)
            return std::nullopt;
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node_, &length);
        return QString::fromUtf8(text, static_cast<qsizetype>(length));
    }

    std::optional<qint64> integer() const
    {
        if (type_ == PLIST_UINT) {
            // Property-list integers are signed; the library hands them out as unsigned bits.
            uint64_t value = 0;
            plist_get_uint_val(node_, &value);
            return static_cast<qint64>(value);
        }
        if (type_ == PLIST_REAL) {
            double value = 0;
            plist_get_real_val(node_, &value);
            return integerFromReal(value);
        }
        return std::nullopt;
    }

private:
    // Anything below the top level is read, when it is a dictionary, as a calendar entry.
    explicit PlistView(plist_t node, std::size_t keysBegin = entryKeysBegin,
                       std::size_t keysEnd = knownKeys.size())
        : node_(node), type_(plist_get_node_type(node))
    {
        if (type_ == PLIST_DICT)
            readKeys(keysBegin, keysEnd);
    }

    // One pass over the entries: checks the keys' type and keeps the first value of each key
    // that the rules read at this level.
    void readKeys(std::size_t keysBegin, std::size_t keysEnd)
    {
        forEachEntry(node_, [&](plist_t key, plist_t value) {
            textKeys_ = key && plist_get_node_type(key) == PLIST_KEY;
            for (std::size_t i = keysBegin; textKeys_ && i < keysEnd; ++i) {
                if (plist_key_val_compare(key, knownKeys[i].data()) == 0) {
                    if (!known_[i])
                        known_[i] = value;
                    break;
                }
            }
            return textKeys_;
        });
    }

    plist_t node_;
    plist_type type_;
    bool textKeys_ = true;
    std::array<plist_t, knownKeys.size()> known_{};
};

class VariantView {
public:
    explicit VariantView(const QVariant& value) : value_(value)
    {
        if (isArray())
            list_ = value.toList();
        else if (isDictionary())
            map_ = value.toMap();
    }

    bool isDictionary() const { return value_.typeId() == QMetaType::QVariantMap; }
    bool isArray() const { return value_.typeId() == QMetaType::QVariantList; }
    qsizetype size() const { return list_.size(); }
    VariantView at(qsizetype i) const { return VariantView(list_.at(i)); }

    std::optional<VariantView> value(std::string_view key) const
    {
        const auto it = map_.constFind(QLatin1String(key.data(), key.size()));
        if (it == map_.constEnd())
            return std::nullopt;
        return VariantView(*it);
    }

    std::optional<QString> text() const
    {
        if (value_.typeId() != QMetaType::QString)
            return std::nullopt;
        return value_.toString();
    }

    // Booleans are not numbers here, and neither are texts that look like one.
    std::optional<qint64> integer() const
    {
        switch (value_.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
        case QMetaType::UInt:
            return value_.toLongLong();
        case QMetaType::ULongLong:
            if (value_.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
                return std::nullopt;
            return value_.toLongLong();
        case QMetaType::Double:
        case QMetaType::Float:
            return integerFromReal(value_.toDouble());
        default:
            return std::nullopt;
        }
    }

private:
    QVariant value_;
    QVariantList list_;
    QVariantMap map_;
};

template <typename View> std::optional<qint64> integerAt(const View& dict, std::string_view key)
{
    const std::optional<View> value = dict.value(key);
    return value ? value->integer() : std::nullopt;
}

template <typename View> std::optional<QString> textAt(const View& dict, std::string_view key)
{
    const std::optional<View> value = dict.value(key);
    return value ? value->text() : std::nullopt;
}

} // namespace LaunchctlManager::PlistValues
