#pragma once

#include "LayerRecords.h"
#include "treelark/dom.h"

namespace treelark {

// Writes the record into `element`, or into a new ApLayer element of `document` when
// `element` is nothing. Attributes the element already has keep their place; the record's
// fields replace the first ApFields child where it stands (or are appended), and a record
// without fields leaves any ApFields child alone. A refused step is reported to the user
// and gives nothing.
DOMNode WriteLayerNode(const LayerRecord& record, const DOMNode& element, const DOMDocumentPtr& document);

// Writes into `element` only what differs between `edited` and `asRead` (the record as
// the form read it): attributes the user did not touch keep their bytes, codes kept as
// read ("(7)", "(none)") are written back as they were, a field changed in place has
// only its changed attributes written, and fields added or removed give a new ApFields.
void WriteLayerEdits(const LayerRecord& edited, const LayerRecord& asRead, const DOMNode& element);

} // namespace treelark
