#include "WriteLayerNode.h"

#include "LayerCodes.h"
#include "LayerFailure.h"

namespace treelark {

namespace {

// A code value as the element is to hold it: the code of a listed name, or, for a value
// kept as it was read ("(7)", "(none)"), what was read.
struct Coded {
    bool present = true;
    QString text;
};

Coded encode(const QString& name, qint16 (*toCode)(const QString&))
{
    if (name == QLatin1String(kAbsentCode))
        return {false, QString()};
    if (name.startsWith(QLatin1Char('(')) && name.endsWith(QLatin1Char(')')))
        return {true, name.mid(1, name.size() - 2)};
    return {true, toCode ? QString::number(toCode(name)) : name};
}

// Writes one attribute: always when there is no `before`, otherwise only when its value
// differs from what was read, so untouched attributes keep their bytes.
// `choice`: the value comes from a value list (a code when `toCode` is given), so it may
// be one kept as it was read; other values are text as typed.
void put(DOMNode& el, const char* name, const QString& now, const QString* before, bool choice = false,
         qint16 (*toCode)(const QString&) = nullptr)
{
    if (before && *before == now)
        return;
    const Coded value = choice ? encode(now, toCode) : Coded{true, now};
    if (value.present)
        el.setAttribute(QLatin1String(name), value.text);
    else
        el.removeAttribute(QLatin1String(name));
}

void writeLayerAttributes(DOMNode& layer, const LayerRecord& r, const LayerRecord* b)
{
    // Empty values are written too, so every layer the builder wrote has the full set.
    put(layer, "Name", r.Name, b ? &b->Name : nullptr);
    put(layer, "TagName", r.TagName, b ? &b->TagName : nullptr);
    put(layer, "Alias", r.Alias, b ? &b->Alias : nullptr);
    put(layer, "Desc", r.Desc, b ? &b->Desc : nullptr);
    put(layer, "FeatureType", r.FeatureType, b ? &b->FeatureType : nullptr, true, FeatureTypeCode);
    put(layer, "ShapeType", r.ShapeType, b ? &b->ShapeType : nullptr, true, ShapeTypeCode);
    put(layer, "CanCreate", r.CanCreate, b ? &b->CanCreate : nullptr);
    put(layer, "LayerType", r.LayerType, b ? &b->LayerType : nullptr, true, LayerTypeCode);
    put(layer, "TargetLocation", r.TargetLocation, b ? &b->TargetLocation : nullptr);
    put(layer, "TargetDatasets", r.TargetDatasets, b ? &b->TargetDatasets : nullptr);
    put(layer, "SubtypeName", r.SubtypeName, b ? &b->SubtypeName : nullptr);
    put(layer, "HasM", r.HasM, b ? &b->HasM : nullptr, true);
    put(layer, "HasZ", r.HasZ, b ? &b->HasZ : nullptr, true);
}

void writeField(DOMNode& field, const FieldRecord& f, const FieldRecord* b)
{
    put(field, "Name", f.Name, b ? &b->Name : nullptr);
    put(field, "TagName", f.TagName, b ? &b->TagName : nullptr);
    put(field, "Alias", f.Alias, b ? &b->Alias : nullptr);
    put(field, "Desc", f.Desc, b ? &b->Desc : nullptr);
    put(field, "Type", f.Type, b ? &b->Type : nullptr, true, FieldTypeCode);
    put(field, "FieldWidth", f.FieldWidth, b ? &b->FieldWidth : nullptr);
    put(field, "Decimals", f.Decimals, b ? &b->Decimals : nullptr);
    put(field, "AllowNull", f.AllowNull, b ? &b->AllowNull : nullptr, true);
    put(field, "DomainName", f.DomainName, b ? &b->DomainName : nullptr);
}

DOMNode firstApFields(const DOMNode& layer)
{
    const DOMNodeList children = layer.childNodes();
    for (qint64 i = 0; i < children.length(); ++i)
        if (children.item(i).nodeName() == QLatin1String("ApFields"))
            return children.item(i);
    return DOMNode();
}

// The record's fields in a new ApFields, in place of the first one (or appended).
void replaceFields(DOMNode& layer, const FieldSet& set)
{
    const DOMNode old = firstApFields(layer);
    const DOMDocumentPtr owner = layer.ownerDocument();
    DOMNode fields = owner->createElement(QStringLiteral("ApFields"));
    for (int k = 1; k <= set.FieldCount && k <= kMaxFields; ++k) {
        DOMNode field = owner->createElement(QStringLiteral("ApField"));
        writeField(field, set.field(k), nullptr);
        fields.appendChild(field);
    }
    if (old.isNull()) {
        layer.appendChild(fields);
    } else {
        layer.insertBefore(fields, old);
        layer.removeChild(old);
    }
}

DOMNode write(const LayerRecord& record, DOMNode layer, const DOMDocumentPtr& document)
{
    if (layer.isNull()) {
        if (!document)
            throw DOMException(DOMError::ObjectNotSet, QStringLiteral("Object variable not set"));
        layer = document->createElement(QStringLiteral("ApLayer"));
    }
    writeLayerAttributes(layer, record, nullptr);
    // A layer whose fields were all removed keeps the ones the document has.
    if (record.Fields.FieldCount > 0)
        replaceFields(layer, record.Fields);
    return layer;
}

bool sameFields(const FieldSet& a, const FieldSet& b)
{
    if (a.FieldCount != b.FieldCount)
        return false;
    for (int k = 1; k <= a.FieldCount && k <= kMaxFields; ++k)
        if (!(a.field(k) == b.field(k)))
            return false;
    return true;
}

void writeEdits(const LayerRecord& edited, const LayerRecord& asRead, DOMNode layer)
{
    writeLayerAttributes(layer, edited, &asRead);
    if (edited.Fields.FieldCount <= 0 || sameFields(edited.Fields, asRead.Fields))
        return;
    const DOMNode fields = firstApFields(layer);
    if (fields.isNull() || edited.Fields.FieldCount != asRead.Fields.FieldCount) {
        replaceFields(layer, edited.Fields); // fields added or removed: the list anew
        return;
    }
    // As many fields as were read, each the element it was read from.
    const DOMNodeList children = fields.childNodes();
    for (int k = 1; k <= edited.Fields.FieldCount && k <= kMaxFields; ++k) {
        DOMNode field = children.item(k - 1);
        writeField(field, edited.Fields.field(k), &asRead.Fields.field(k));
    }
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

void WriteLayerEdits(const LayerRecord& edited, const LayerRecord& asRead, const DOMNode& element)
{
    try {
        writeEdits(edited, asRead, element);
    } catch (const DOMException& e) {
        reportFailure(e.number(), e.description());
    }
}

} // namespace treelark
