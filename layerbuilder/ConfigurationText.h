#pragma once

#include "LayerRecords.h"

#include <QString>

#include <span>

namespace treelark {

// 1 for exactly "Yes", otherwise 0.
int YesNoFlag(const QString& text);

// The layers as ApLayer elements, ready to paste inside an ApLayers element: CRLF
// lines, indented with blanks, values escaped as attribute values. Throws LayerFailure
// when a field's FieldWidth or Decimals is not a number (or the width is out of range).
QString ConfigurationText(std::span<const LayerRecord> layers);

} // namespace treelark
