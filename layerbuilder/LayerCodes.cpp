#include "LayerCodes.h"

#include <span>

namespace treelark {

namespace {

struct Code {
    const char* name;
    qint16 code;
};

const Code kLayerTypes[] = {
    {"Feature", 0}, {"Raster", 1}, {"RasterCatalog", 2}, {"CoverageAnnotation", 3}, {"Tin", 4},
    {"Graphics", 5}, {"Group", 6}, {"IMSMap", 7}, {"CadFeature", 8}, {"Cad", 9},
};

const Code kFeatureTypes[] = {
    {"Simple", 1}, {"Simple Junction", 7}, {"Simple Edge", 8}, {"Complex Junction", 9},
    {"Complex Edge", 10}, {"Annotation", 11}, {"Coverage Annotation", 12}, {"Dimension", 13},
};

// 8, 10 and 12 name no shape.
const Code kShapeTypes[] = {
    {"Null", 0}, {"Point", 1}, {"Multipoint", 2}, {"Polyline", 3}, {"Polygon", 4},
    {"Envelope", 5}, {"Path", 6}, {"Any", 7}, {"MultiPatch", 9}, {"Ring", 11},
    {"Line", 13}, {"CircularArc", 14}, {"Bezier3Curve", 15}, {"EllipticArc", 16}, {"Bag", 17},
    {"TriangleStrip", 18}, {"TriangleFan", 19}, {"Ray", 20}, {"Sphere", 21},
};

const Code kFieldTypes[] = {
    {"SmallInteger", 0}, {"Integer", 1}, {"Single", 2}, {"Double", 3}, {"String", 4},
    {"Date", 5}, {"OID", 6}, {"Geometry", 7}, {"Blob", 8},
};

qint16 codeOf(std::span<const Code> table, const QString& name)
{
    for (const Code& c : table)
        if (name == QLatin1String(c.name))
            return c.code;
    return -1;
}

QString nameOf(std::span<const Code> table, qint16 code)
{
    for (const Code& c : table)
        if (c.code == code)
            return QLatin1String(c.name);
    return QStringLiteral("-1");
}

} // namespace

qint16 LayerTypeCode(const QString& name) { return codeOf(kLayerTypes, name); }
QString LayerTypeName(qint16 code) { return nameOf(kLayerTypes, code); }
qint16 FeatureTypeCode(const QString& name) { return codeOf(kFeatureTypes, name); }
QString FeatureTypeName(qint16 code) { return nameOf(kFeatureTypes, code); }
qint16 ShapeTypeCode(const QString& name) { return codeOf(kShapeTypes, name); }
QString ShapeTypeName(qint16 code) { return nameOf(kShapeTypes, code); }
qint16 FieldTypeCode(const QString& name) { return codeOf(kFieldTypes, name); }
QString FieldTypeName(qint16 code) { return nameOf(kFieldTypes, code); }

// The lists are in the order users are used to, not in code order.
QStringList layerTypeEntries()
{
    return {QStringLiteral("Feature"), QStringLiteral("Raster"), QStringLiteral("RasterCatalog"),
            QStringLiteral("Tin"), QStringLiteral("CoverageAnnotation"), QStringLiteral("Graphics"),
            QStringLiteral("Group"), QStringLiteral("IMSMap"), QStringLiteral("CadFeature"),
            QStringLiteral("Cad")};
}

QStringList featureTypeEntries()
{
    return {QStringLiteral("Simple"), QStringLiteral("Simple Junction"), QStringLiteral("Simple Edge"),
            QStringLiteral("Complex Junction"), QStringLiteral("Complex Edge"), QStringLiteral("Annotation"),
            QStringLiteral("Coverage Annotation"), QStringLiteral("Dimension")};
}

QStringList shapeTypeEntries()
{
    return {QStringLiteral("Point"), QStringLiteral("Polyline"), QStringLiteral("Polygon"),
            QStringLiteral("Multipoint"), QStringLiteral("Line"), QStringLiteral("CircularArc"),
            QStringLiteral("EllipticArc"), QStringLiteral("Bezier3Curve"), QStringLiteral("Path"),
            QStringLiteral("Ring"), QStringLiteral("Envelope"), QStringLiteral("Any"),
            QStringLiteral("Bag"), QStringLiteral("MultiPatch"), QStringLiteral("TriangleStrip"),
            QStringLiteral("TriangleFan"), QStringLiteral("Ray"), QStringLiteral("Sphere"),
            QStringLiteral("Null")};
}

QStringList allowNullEntries() { return {QStringLiteral("Yes"), QStringLiteral("No")}; }

QStringList zmFlagEntries() { return {QStringLiteral("0"), QStringLiteral("1")}; }

int selectionScanIndex(const QStringList& entries, const QString& value)
{
    const qsizetype i = entries.indexOf(value);
    return int(i >= 0 ? i : entries.size() - 1);
}

} // namespace treelark
