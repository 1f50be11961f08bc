// Moving values between the controls and the records: showing and saving a layer or a
// field, the two selectors, adding and removing, and the checks on the number boxes.
#include "frmXmlCreator.h"

#include "LayerCodes.h"
#include "LayerNumbers.h"
#include "treelark/Prompts.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace treelark {

namespace {

// A stored value is looked for entry by entry; one that matches none leaves the last
// entry selected, as the user has always seen it. A value kept as a layer being edited
// has it ("(7)", "(none)") is shown as an entry of its own after the list, for as long as
// it is the value shown, so that what was read is what is seen and written back.
void selectStored(QComboBox* combo, const QString& value)
{
    if (!combo->property("listed").isValid())
        combo->setProperty("listed", combo->count());
    const int listed = combo->property("listed").toInt();
    while (combo->count() > listed)
        combo->removeItem(combo->count() - 1);
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    if (!entries.contains(value) && value.startsWith(QLatin1Char('(')) && value.endsWith(QLatin1Char(')'))) {
        combo->addItem(value);
        combo->setCurrentIndex(combo->count() - 1);
        return;
    }
    combo->setCurrentIndex(selectionScanIndex(entries, value));
}

// The selectors change selection only when told to: adding the first entry or removing
// the selected one must not show (or save) anything by itself.
void appendEntry(QComboBox* combo, const QString& text)
{
    const QSignalBlocker quiet(combo);
    const int before = combo->currentIndex();
    combo->addItem(text);
    combo->setCurrentIndex(before);
}

void removeEntry(QComboBox* combo, int index)
{
    const QSignalBlocker quiet(combo);
    combo->removeItem(index);
    combo->setCurrentIndex(-1);
}

bool inRange(int k, int count) { return k >= 1 && k <= count; }

} // namespace

void frmXmlCreator::SaveCurrentLayer()
{
    if (!inRange(CurrentLayer, kMaxLayers))
        return;
    if (WorkingFields.FieldCount > 0)
        SaveCurrentField();
    LayerRecord& layer = layerAt(CurrentLayer);
    layer.Name = txtLayerName->text();
    layer.TagName = txtLayerTagName->text();
    layer.Desc = txtLayerDesc->text();
    layer.SubtypeName = txtSubtypeName->text();
    layer.LayerType = cboLayerType->currentText();
    layer.FeatureType = cboFeatureType->currentText();
    layer.ShapeType = cboShapeType->currentText();
    layer.HasZ = cboHasZ->currentText();
    layer.HasM = cboHasM->currentText();
    if (layer.Alias.isEmpty())
        layer.Alias = layer.TagName;
    layer.Fields = WorkingFields;
}

void frmXmlCreator::SaveCurrentField()
{
    if (!inRange(CurrentLayer, kMaxLayers))
        return;
    if (inRange(CurrentField, kMaxFields)) {
        FieldRecord& field = WorkingFields.field(CurrentField);
        field.Name = txtFieldName->text();
        field.TagName = txtFieldTagName->text();
        field.Desc = txtFieldDesc->text();
        field.FieldWidth = txtFieldWidth->text();
        field.Decimals = txtDecimals->text();
        field.DomainName = txtDomainName->text();
        field.Type = cboFieldType->currentText();
        field.AllowNull = cboNull->currentText();
    }
    layerAt(CurrentLayer).Fields = WorkingFields;
}

void frmXmlCreator::ShowLayer(int k)
{
    SaveOnSelect = false;
    const LayerRecord layer = layerAt(k);
    // The Name after the Tag Name, so the mirroring does not overwrite it.
    txtLayerTagName->setText(layer.TagName);
    txtLayerName->setText(layer.Name);
    txtLayerDesc->setText(layer.Desc);
    txtSubtypeName->setText(layer.SubtypeName);
    selectStored(cboLayerType, layer.LayerType);
    selectStored(cboFeatureType, layer.FeatureType);
    selectStored(cboShapeType, layer.ShapeType);
    selectStored(cboHasZ, layer.HasZ);
    selectStored(cboHasM, layer.HasM);
    cboFields->clear();
    WorkingFields = layer.Fields;
    if (WorkingFields.FieldCount > 0) {
        for (int i = 1; i <= WorkingFields.FieldCount && i <= kMaxFields; ++i)
            appendEntry(cboFields, WorkingFields.field(i).TagName);
        cboFields->setCurrentIndex(0);
    } else {
        ResetFieldControls();
    }
    SaveOnSelect = true;
}

void frmXmlCreator::ShowField(int k)
{
    EnableFieldControls();
    if (!inRange(CurrentLayer, kMaxLayers) || !inRange(k, kMaxFields))
        return;
    const FieldRecord field = layerAt(CurrentLayer).Fields.field(k);
    txtFieldTagName->setText(field.TagName);
    txtFieldDesc->setText(field.Desc);
    txtFieldWidth->setText(field.FieldWidth);
    txtDecimals->setText(field.Decimals);
    txtFieldName->setText(field.Name);
    txtDomainName->setText(field.DomainName);
    selectStored(cboFieldType, field.Type);
    selectStored(cboNull, field.AllowNull);
}

void frmXmlCreator::cboLayers_Click(int index)
{
    if (index < 0)
        return; // the list was cleared
    if (SaveOnSelect)
        SaveCurrentLayer();
    CurrentLayer = index + 1;
    ShowLayer(CurrentLayer);
}

void frmXmlCreator::cboFields_Click(int index)
{
    if (index < 0)
        return;
    if (WorkingFields.FieldCount >= 1 && SaveOnSelect)
        SaveCurrentField();
    CurrentField = index + 1;
    ShowField(CurrentField);
}

void frmXmlCreator::txtLayerTagName_Change(const QString& text)
{
    // Only while the selector shows this layer: in edit mode, with no selector, the
    // Name box keeps its own value.
    if (cboLayers->count() > 0 && cboLayers->currentIndex() == CurrentLayer - 1) {
        cboLayers->setItemText(CurrentLayer - 1, text);
        txtLayerName->setText(text);
    }
}

void frmXmlCreator::txtFieldTagName_Change(const QString& text)
{
    if (cboFields->count() > 0 && cboFields->currentIndex() == CurrentField - 1)
        cboFields->setItemText(CurrentField - 1, text);
    txtFieldName->setText(text);
}

void frmXmlCreator::cmdAddLayer_Click()
{
    if (LayerCount + 1 > kMaxLayers) {
        prompts().message(QStringLiteral("This Program Cannot Create More Than 25 Layers"), MsgButtons::OK,
                          QStringLiteral("Error"));
        return;
    }
    if (LayerCount > 0)
        SaveCurrentLayer();
    EnableLayerControls();
    ++LayerCount;
    CurrentLayer = LayerCount;
    ++LayerSerial; // never lowered, so a removed layer's name is not given again
    layerAt(CurrentLayer) = LayerRecord();

    const QString tag = QStringLiteral("NewLayer") + QString::number(LayerSerial);
    txtLayerTagName->setText(tag);
    txtLayerTagName->setFocus();
    txtLayerTagName->selectAll();
    appendEntry(cboLayers, tag);
    cboLayers->setCurrentIndex(LayerCount - 1);

    txtLayerDesc->clear();
    for (QComboBox* c : {cboLayerType, cboFeatureType, cboShapeType, cboHasZ, cboHasM})
        c->setCurrentIndex(0);
    txtSubtypeName->clear();
    SaveCurrentLayer();
    WorkingFields.FieldCount = 0;
    ResetFieldControls();
    // Showing the new layer again put the cursor at the end: the user types over the name.
    txtLayerTagName->selectAll();
}

void frmXmlCreator::cmdRemoveLayer_Click()
{
    if (!inRange(CurrentLayer, LayerCount))
        return;
    SaveOnSelect = false;
    for (int i = CurrentLayer; i < LayerCount; ++i)
        layerAt(i) = layerAt(i + 1);
    removeEntry(cboLayers, CurrentLayer - 1);
    if (cboLayers->count() > 0) {
        cboLayers->setCurrentIndex(cboLayers->count() >= CurrentLayer ? CurrentLayer - 1 : CurrentLayer - 2);
    } else {
        ResetLayerControls();
        ResetFieldControls();
    }
    SaveOnSelect = true;
    --LayerCount;
}

void frmXmlCreator::cmdAddField_Click()
{
    if (WorkingFields.FieldCount + 1 >= kMaxFields + 1) {
        prompts().message(QStringLiteral("This Program Cannot Create More Than 25 Fields"), MsgButtons::OK,
                          QStringLiteral("Error"));
        return;
    }
    if (!inRange(CurrentLayer, kMaxLayers))
        return;
    if (WorkingFields.FieldCount > 0)
        SaveCurrentField();
    EnableFieldControls();
    ++WorkingFields.FieldCount;
    CurrentField = WorkingFields.FieldCount;
    ++FieldSerial; // shared by all layers
    WorkingFields.field(CurrentField) = FieldRecord();

    txtDomainName->clear();
    const QString tag = QStringLiteral("NewField") + QString::number(FieldSerial);
    txtFieldTagName->setText(tag);
    txtFieldTagName->setFocus();
    txtFieldTagName->selectAll();
    SaveCurrentField();
    appendEntry(cboFields, tag);
    cboFields->setCurrentIndex(CurrentField - 1);

    // Width and decimals stay as last shown; all of it reaches the record at its next save.
    txtFieldDesc->clear();
    cboFieldType->setCurrentIndex(0);
    cboNull->setCurrentIndex(0);
    txtFieldTagName->selectAll();
}

void frmXmlCreator::cmdRemoveField_Click()
{
    if (!inRange(CurrentField, WorkingFields.FieldCount) || !inRange(CurrentLayer, kMaxLayers))
        return;
    SaveOnSelect = false;
    for (int i = CurrentField; i < WorkingFields.FieldCount; ++i)
        WorkingFields.field(i) = WorkingFields.field(i + 1);
    layerAt(CurrentLayer).Fields = WorkingFields;
    removeEntry(cboFields, CurrentField - 1);
    if (cboFields->count() > 0)
        cboFields->setCurrentIndex(cboFields->count() >= CurrentField ? CurrentField - 1 : CurrentField - 2);
    else
        ResetFieldControls();
    SaveOnSelect = true;
    --WorkingFields.FieldCount;
}

bool frmXmlCreator::txtFieldWidth_LostFocus()
{
    const QString text = txtFieldWidth->text();
    if (!isNumber(text)) {
        prompts().message(QStringLiteral("Please input a number for Length"), MsgButtons::OK,
                          QStringLiteral("Number Required"));
    } else if (text.contains(QLatin1Char('.'))) {
        prompts().message(QStringLiteral("Please input an integer for Length"), MsgButtons::OK,
                          QStringLiteral("Integer Required"));
    } else {
        return true;
    }
    txtFieldWidth->setFocus();
    return false;
}

bool frmXmlCreator::txtDecimals_LostFocus()
{
    // A fraction is allowed here.
    if (isNumber(txtDecimals->text()))
        return true;
    prompts().message(QStringLiteral("Please input a number for Precision"), MsgButtons::OK,
                      QStringLiteral("Number Required"));
    txtDecimals->setFocus();
    return false;
}

} // namespace treelark
