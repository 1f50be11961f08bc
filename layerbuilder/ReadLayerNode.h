#pragma once

#include "LayerRecords.h"
#include "treelark/dom.h"

namespace treelark {

// Reads an ApLayer element and the fields of its first ApFields child. A layer that
// cannot be read (a child of ApFields that is not an element, a 26th field, a code that
// is not a number) is reported to the user and gives an empty record.
LayerRecord ReadLayerNode(const DOMNode& node);
// The same, saying whether the layer was read whole; when not, `where` names the part
// that could not be read ("child 3 of ApFields (#comment)", "field 26 ...").
bool ReadLayerNode(const DOMNode& node, LayerRecord* out, QString* where);

// For editing: each value-list member of a record read from `node` (the codes, HasZ,
// HasM, AllowNull) that the element does not have becomes "(none)", and one the lists do
// not know becomes "(" + its text + ")", so the form shows what is there and writing it
// back changes nothing.
void KeepCodesAsRead(LayerRecord& layer, const DOMNode& node);

} // namespace treelark
