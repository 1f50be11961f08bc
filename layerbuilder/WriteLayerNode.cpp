#include "WriteLayerNode.h"

#include "LayerCodes.h"
#include "LayerFailure.h"

namespace treelark {

namespace {

DOMNode write(const LayerRecord& record, DOMNode layer, const DOMDocumentPtr& document)
{
    if (layer.isNull()) {
        if (!document)
            throw DOMException(DOMError::ObjectNotSet, QStringLiteral("Object variable not set"));
        layer = document->createElement(QStringLiteral("ApLayer"));
    }
    // Empty values are written too, so every layer the builder touched has the full set.
    layer.setAttribute(QStringLiteral("Name"), record.Name);
    layer.setAttribute(QStringLiteral("TagName"), record.TagName);
    layer.setAttribute(QStringLiteral("Alias"), record.Alias);
    layer.setAttribute(QStringLiteral("Desc"), record.Desc);
    layer.setAttribute(QStringLiteral("FeatureType"), QString::number(FeatureTypeCode(record.FeatureType)));
    layer.setAttribute(QStringLiteral("ShapeType"), QString::number(ShapeTypeCode(record.ShapeType)));
    layer.setAttribute(QStringLiteral("CanCreate"), record.CanCreate);
    layer.setAttribute(QStringLiteral("LayerType"), QString::number(LayerTypeCode(record.LayerType)));
    layer.setAttribute(QStringLiteral("TargetLocation"), record.TargetLocation);
    layer.setAttribute(QStringLiteral("TargetDatasets"), record.TargetDatasets);
    layer.setAttribute(QStringLiteral("SubtypeName"), record.SubtypeName);
    layer.setAttribute(QStringLiteral("HasM"), record.HasM);
    layer.setAttribute(QStringLiteral("HasZ"), record.HasZ);

    // A layer whose fields were all removed keeps the ones the document has.
    if (record.Fields.FieldCount <= 0)
        return layer;

    DOMNode old;
    const DOMNodeList children = layer.childNodes();
    for (qint64 i = 0; i < children.length() && old.isNull(); ++i)
        if (children.item(i).nodeName() == QLatin1String("ApFields"))
            old = children.item(i);

    const DOMDocumentPtr owner = layer.ownerDocument();
    DOMNode fields = owner->createElement(QStringLiteral("ApFields"));
    for (int k = 1; k <= record.Fields.FieldCount && k <= kMaxFields; ++k) {
        const FieldRecord& f = record.Fields.field(k);
        DOMNode field = owner->createElement(QStringLiteral("ApField"));
        field.setAttribute(QStringLiteral("Name"), f.Name);
        field.setAttribute(QStringLiteral("TagName"), f.TagName);
        field.setAttribute(QStringLiteral("Alias"), f.Alias);
        field.setAttribute(QStringLiteral("Desc"), f.Desc);
        field.setAttribute(QStringLiteral("Type"), QString::number(FieldTypeCode(f.Type)));
        field.setAttribute(QStringLiteral("FieldWidth"), f.FieldWidth);
        field.setAttribute(QStringLiteral("Decimals"), f.Decimals);
        field.setAttribute(QStringLiteral("AllowNull"), f.AllowNull);
        field.setAttribute(QStringLiteral("DomainName"), f.DomainName);
        fields.appendChild(field);
    }
    if (old.isNull()) {
        layer.appendChild(fields);
    } else {
        layer.insertBefore(fields, old);
        layer.removeChild(old);
    }
    return layer;
}

} // namespace

DOMNode WriteLayerNode(const LayerRecord& record, const DOMNode& element, const DOMDocumentPtr& document)
{
    try {
        return write(record, element, document);
    } catch (const DOMException& e) {
        reportFailure(e.number(), e.description());
    }
    return DOMNode();
}

} // namespace treelark
