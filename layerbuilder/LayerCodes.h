// The value lists of the form and the numeric codes the configuration document stores
// for them. Names compare exactly; a name not in a table gives -1, a code not in a
// table gives "-1", which matches no entry.
#pragma once

#include <QStringList>

namespace treelark {

qint16 LayerTypeCode(const QString& name);
QString LayerTypeName(qint16 code);
qint16 FeatureTypeCode(const QString& name);
QString FeatureTypeName(qint16 code);
qint16 ShapeTypeCode(const QString& name);
QString ShapeTypeName(qint16 code);
qint16 FieldTypeCode(const QString& name);
QString FieldTypeName(qint16 code);

// What a code attribute the element does not have shows as while a layer is edited;
// a code the tables do not know shows as "(" + its text + ")". Either is written back
// as it was read.
inline constexpr const char* kAbsentCode = "(none)";

// Entries of the combos, in the order the user sees them; the first is the default.
QStringList layerTypeEntries();
QStringList featureTypeEntries();
QStringList shapeTypeEntries();
QStringList allowNullEntries();   // "Yes", "No"
QStringList zmFlagEntries();      // "0", "1" for HasZ and HasM

// Where a combo's selection ends when a stored value is looked for entry by entry: the
// first equal entry, or the last entry when none is equal (-1 for an empty list).
int selectionScanIndex(const QStringList& entries, const QString& value);

} // namespace treelark
