// The layer builder's records: what one layer and its fields hold between the form's
// controls and the ApLayer/ApField elements. Every member is text exactly as typed or
// chosen; codes are turned into names on reading and back on writing.
#pragma once

#include <QString>

#include <array>

namespace treelark {

inline constexpr int kMaxLayers = 25;
inline constexpr int kMaxFields = 25;

struct FieldRecord {
    QString Name;
    QString TagName;
    QString Alias;
    QString Desc;
    QString Type;
    QString FieldWidth;
    QString Decimals;
    QString AllowNull;
    QString DomainName;

    bool operator==(const FieldRecord&) const = default;
};

// Fields 1 to FieldCount are in use; slots beyond the count are ignored.
struct FieldSet {
    std::array<FieldRecord, kMaxFields> Fields;
    qint16 FieldCount = 0;

    // Numbered from 1, as the selector and the messages count them.
    FieldRecord& field(int k) { return Fields[std::size_t(k - 1)]; }
    const FieldRecord& field(int k) const { return Fields[std::size_t(k - 1)]; }
};

struct LayerRecord {
    QString Name;
    QString TagName;
    QString Alias;
    QString Desc;
    QString LayerType;
    QString FeatureType;
    QString ShapeType;
    QString CanCreate;
    QString TargetLocation;
    QString TargetDatasets;
    QString HasZ;
    QString HasM;
    QString SubtypeName;
    FieldSet Fields;
};

} // namespace treelark
