#include "ReadLayerNode.h"

#include "LayerCodes.h"
#include "LayerFailure.h"
#include "LayerNumbers.h"

namespace treelark {

namespace {

const QString kObjectNotSet = QStringLiteral("Object variable not set");

DOMNamedNodeMap attributesOf(const DOMNode& node)
{
    // Text, comments and instructions have no attributes: such a child cannot be a field.
    const DOMNamedNodeMap map = node.attributes();
    if (map.isNull())
        throw LayerFailure(LayerFailure::ObjectNotSet, kObjectNotSet);
    return map;
}

// Stores the attribute's text when it is there; an absent one leaves the member as it is.
void take(const DOMNamedNodeMap& map, const char* name, QString& member)
{
    const DOMNode attr = map.getNamedItem(QLatin1String(name));
    if (!attr.isNull())
        member = attr.text();
}

// `where` names what is being read, for the user when it cannot be.
void takeCode(const DOMNamedNodeMap& map, const char* name, QString& member, QString (*toName)(qint16),
              QString& where, const QString& owner)
{
    const DOMNode attr = map.getNamedItem(QLatin1String(name));
    if (attr.isNull())
        return;
    where = QStringLiteral("the attribute %1=\"%2\" of %3").arg(QLatin1String(name), attr.text(), owner);
    member = toName(toInt16(attr.text()));
}

DOMNode firstApFields(const DOMNode& layer)
{
    const DOMNodeList children = layer.childNodes();
    for (qint64 i = 0; i < children.length(); ++i) {
        const DOMNode child = children.item(i);
        if (child.nodeName() == QLatin1String("ApFields"))
            return child;
    }
    return DOMNode();
}

LayerRecord read(const DOMNode& node, QString& where)
{
    LayerRecord layer;
    const QString self = QStringLiteral("the ApLayer");
    where = self;
    const DOMNamedNodeMap map = attributesOf(node);
    take(map, "Name", layer.Name);
    take(map, "TagName", layer.TagName);
    take(map, "Alias", layer.Alias);
    take(map, "Desc", layer.Desc);
    takeCode(map, "LayerType", layer.LayerType, LayerTypeName, where, self);
    takeCode(map, "FeatureType", layer.FeatureType, FeatureTypeName, where, self);
    takeCode(map, "ShapeType", layer.ShapeType, ShapeTypeName, where, self);
    take(map, "TargetLocation", layer.TargetLocation);
    take(map, "TargetDatasets", layer.TargetDatasets);
    take(map, "CanCreate", layer.CanCreate);
    take(map, "SubtypeName", layer.SubtypeName);
    take(map, "HasM", layer.HasM);
    take(map, "HasZ", layer.HasZ);

    const DOMNode fields = firstApFields(node);
    if (fields.isNull())
        return layer;
    const DOMNodeList children = fields.childNodes();
    for (qint64 i = 0; i < children.length(); ++i) {
        const int n = int(i) + 1;
        where = QStringLiteral("child %1 of ApFields (%2)").arg(n).arg(children.item(i).nodeName());
        const DOMNamedNodeMap fieldMap = attributesOf(children.item(i));
        if (n > kMaxFields)
            throw LayerFailure(LayerFailure::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        FieldRecord field; // each field starts empty: nothing carries over from the one before
        take(fieldMap, "Name", field.Name);
        take(fieldMap, "TagName", field.TagName);
        take(fieldMap, "Alias", field.Alias);
        take(fieldMap, "Desc", field.Desc);
        takeCode(fieldMap, "Type", field.Type, FieldTypeName, where, QStringLiteral("field %1").arg(n));
        take(fieldMap, "FieldWidth", field.FieldWidth);
        take(fieldMap, "Decimals", field.Decimals);
        take(fieldMap, "AllowNull", field.AllowNull);
        take(fieldMap, "DomainName", field.DomainName);
        layer.Fields.field(n) = field;
        layer.Fields.FieldCount = qint16(n);
    }
    return layer;
}

} // namespace

namespace {

void keepAsRead(const DOMNamedNodeMap& map, const char* name, QString& member, bool listed)
{
    const DOMNode attr = map.getNamedItem(QLatin1String(name));
    if (attr.isNull())
        member = QLatin1String(kAbsentCode);
    else if (!listed)
        member = QLatin1Char('(') + attr.text() + QLatin1Char(')');
}

} // namespace

void KeepCodesAsRead(LayerRecord& layer, const DOMNode& node)
{
    const DOMNamedNodeMap map = node.attributes();
    if (map.isNull())
        return;
    keepAsRead(map, "LayerType", layer.LayerType, LayerTypeCode(layer.LayerType) >= 0);
    keepAsRead(map, "FeatureType", layer.FeatureType, FeatureTypeCode(layer.FeatureType) >= 0);
    keepAsRead(map, "ShapeType", layer.ShapeType, ShapeTypeCode(layer.ShapeType) >= 0);
    keepAsRead(map, "HasZ", layer.HasZ, zmFlagEntries().contains(layer.HasZ));
    keepAsRead(map, "HasM", layer.HasM, zmFlagEntries().contains(layer.HasM));
    const DOMNode fields = firstApFields(node);
    if (fields.isNull())
        return;
    const DOMNodeList children = fields.childNodes();
    for (int k = 1; k <= layer.Fields.FieldCount && k <= kMaxFields; ++k) {
        const DOMNamedNodeMap fieldMap = children.item(k - 1).attributes();
        if (fieldMap.isNull())
            continue;
        FieldRecord& f = layer.Fields.field(k);
        keepAsRead(fieldMap, "Type", f.Type, FieldTypeCode(f.Type) >= 0);
        keepAsRead(fieldMap, "AllowNull", f.AllowNull, allowNullEntries().contains(f.AllowNull));
    }
}

bool ReadLayerNode(const DOMNode& node, LayerRecord* out, QString* where)
{
    QString at;
    try {
        *out = read(node, at);
        return true;
    } catch (const LayerFailure& e) {
        reportFailure(e.number(), e.description());
    } catch (const DOMException& e) {
        reportFailure(e.number(), e.description());
    }
    *out = LayerRecord();
    if (where)
        *where = at;
    return false;
}

LayerRecord ReadLayerNode(const DOMNode& node)
{
    LayerRecord layer;
    ReadLayerNode(node, &layer, nullptr);
    return layer;
}

} // namespace treelark
