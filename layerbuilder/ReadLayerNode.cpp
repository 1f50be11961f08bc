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

void takeCode(const DOMNamedNodeMap& map, const char* name, QString& member, QString (*toName)(qint16))
{
    const DOMNode attr = map.getNamedItem(QLatin1String(name));
    if (!attr.isNull())
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

LayerRecord read(const DOMNode& node)
{
    LayerRecord layer;
    const DOMNamedNodeMap map = attributesOf(node);
    take(map, "Name", layer.Name);
    take(map, "TagName", layer.TagName);
    take(map, "Alias", layer.Alias);
    take(map, "Desc", layer.Desc);
    takeCode(map, "LayerType", layer.LayerType, LayerTypeName);
    takeCode(map, "FeatureType", layer.FeatureType, FeatureTypeName);
    takeCode(map, "ShapeType", layer.ShapeType, ShapeTypeName);
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
        const DOMNamedNodeMap fieldMap = attributesOf(children.item(i));
        if (n > kMaxFields)
            throw LayerFailure(LayerFailure::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        FieldRecord field; // each field starts empty: nothing carries over from the one before
        take(fieldMap, "Name", field.Name);
        take(fieldMap, "TagName", field.TagName);
        take(fieldMap, "Alias", field.Alias);
        take(fieldMap, "Desc", field.Desc);
        takeCode(fieldMap, "Type", field.Type, FieldTypeName);
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

LayerRecord ReadLayerNode(const DOMNode& node)
{
    try {
        return read(node);
    } catch (const LayerFailure& e) {
        reportFailure(e.number(), e.description());
    } catch (const DOMException& e) {
        reportFailure(e.number(), e.description());
    }
    return LayerRecord();
}

} // namespace treelark
