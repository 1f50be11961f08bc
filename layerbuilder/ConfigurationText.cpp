#include "ConfigurationText.h"

#include "LayerCodes.h"
#include "LayerNumbers.h"

namespace treelark {

namespace {

const QLatin1String kCrLf("\r\n");

// Only what would end the value or start markup: the text must stay well-formed when
// pasted into a file.
QString escaped(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("&quot;");
        else
            out += c;
    }
    return out;
}

QString attr(const char* name, const QString& value)
{
    return QLatin1Char(' ') + QLatin1String(name) + QLatin1String("=\"") + escaped(value) + QLatin1Char('"');
}

QString attr(const char* name, qint64 value) { return attr(name, QString::number(value)); }

QString fieldLine(const FieldRecord& f)
{
    // The field's Name goes first, where a reader looks for it; the alias is the tag name.
    return QLatin1String("      <ApField") + attr("Name", f.Name) + attr("TagName", f.TagName)
           + attr("Alias", f.TagName) + attr("Desc", f.Desc) + attr("Type", FieldTypeCode(f.Type))
           + attr("Length", toInt16(f.FieldWidth)) + attr("Precision", shortestDecimal(toDouble(f.Decimals)))
           + attr("AllowNull", YesNoFlag(f.AllowNull)) + QLatin1Char('>') + kCrLf
           + QLatin1String("      </ApField>") + kCrLf;
}

} // namespace

int YesNoFlag(const QString& text) { return text == QLatin1String("Yes") ? 1 : 0; }

QString ConfigurationText(std::span<const LayerRecord> layers)
{
    QString text;
    for (const LayerRecord& l : layers) {
        text += QLatin1String("  <ApLayer") + attr("Name", l.Name) + attr("TagName", l.TagName)
                + attr("Alias", l.Name) + attr("Desc", l.Desc) + attr("FeatureType", FeatureTypeCode(l.FeatureType))
                + attr("ShapeType", ShapeTypeCode(l.ShapeType)) + attr("Creation", 0)
                + attr("LayerType", LayerTypeCode(l.LayerType)) + attr("TargetLocation", QString())
                + attr("TargetDatasets", QString()) + QLatin1Char('>') + kCrLf;
        const int count = qBound(0, int(l.Fields.FieldCount), kMaxFields);
        if (count > 0)
            text += QLatin1String("    <ApFields>") + kCrLf;
        for (int k = 1; k <= count; ++k)
            text += fieldLine(l.Fields.field(k));
        if (count > 0)
            text += QLatin1String("    </ApFields>") + kCrLf;
        text += QLatin1String("  </ApLayer>") + kCrLf;
    }
    return text;
}

} // namespace treelark
