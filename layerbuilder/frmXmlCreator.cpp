// The builder's controls, their value lists, and what loading the form does in each of
// its three modes.
#include "frmXmlCreator.h"

#include "LayerCodes.h"
#include "ReadLayerNode.h"
#include "modUtils.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace treelark {

namespace {

template <typename T>
T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A caption on the left, its control on the right, one row of the frame's grid.
void addRow(QGridLayout* grid, const char* caption, QWidget* control)
{
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(QLatin1String(caption)), row, 0);
    grid->addWidget(control, row, 1);
}

} // namespace

frmXmlCreator::frmXmlCreator(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmXmlCreator"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("XML Creator"));
    registerForm(this);
    buildControls();
}

frmXmlCreator::~frmXmlCreator() = default;

void frmXmlCreator::AddLayers(const DOMNode& XmlLayersNode)
{
    TargetNode = XmlLayersNode;
    EditMode = false;
}

void frmXmlCreator::EditLayer(const DOMNode& XmlLayerNode)
{
    TargetNode = XmlLayerNode;
    EditMode = true;
}

void frmXmlCreator::buildControls()
{
    fraLayers = named(new QGroupBox(QStringLiteral("Layers"), this), "fraLayers");
    auto* layerGrid = new QGridLayout(fraLayers);
    lblLayer = named(new QLabel(QStringLiteral("Select Layer")), "lblLayer");
    cboLayers = named(new QComboBox, "cboLayers");
    layerGrid->addWidget(lblLayer, 0, 0, 1, 2);
    layerGrid->addWidget(cboLayers, 1, 0, 1, 2);
    addRow(layerGrid, "Tag Name", txtLayerTagName = named(new QLineEdit, "txtLayerTagName"));
    addRow(layerGrid, "Name", txtLayerName = named(new QLineEdit, "txtLayerName"));
    addRow(layerGrid, "Description", txtLayerDesc = named(new QLineEdit, "txtLayerDesc"));
    addRow(layerGrid, "Layer Type", cboLayerType = named(new QComboBox, "cboLayerType"));
    addRow(layerGrid, "Feature Type", cboFeatureType = named(new QComboBox, "cboFeatureType"));
    addRow(layerGrid, "Shape Type", cboShapeType = named(new QComboBox, "cboShapeType"));
    addRow(layerGrid, "SubtypeName:", txtSubtypeName = named(new QLineEdit, "txtSubtypeName"));
    addRow(layerGrid, "HasZ:", cboHasZ = named(new QComboBox, "cboHasZ"));
    addRow(layerGrid, "HasM:", cboHasM = named(new QComboBox, "cboHasM"));
    auto* layerButtons = new QHBoxLayout;
    layerButtons->addWidget(cmdAddLayer = named(new QPushButton(QStringLiteral("Add")), "cmdAddLayer"));
    layerButtons->addWidget(cmdRemoveLayer = named(new QPushButton(QStringLiteral("Remove")), "cmdRemoveLayer"));
    layerGrid->addLayout(layerButtons, layerGrid->rowCount(), 0, 1, 2);
    layerGrid->setRowStretch(layerGrid->rowCount(), 1);

    fraFields = named(new QGroupBox(QStringLiteral("Fields"), this), "fraFields");
    auto* fieldGrid = new QGridLayout(fraFields);
    fieldGrid->addWidget(new QLabel(QStringLiteral("Select Field")), 0, 0, 1, 2);
    fieldGrid->addWidget(cboFields = named(new QComboBox, "cboFields"), 1, 0, 1, 2);
    addRow(fieldGrid, "Tag Name", txtFieldTagName = named(new QLineEdit, "txtFieldTagName"));
    addRow(fieldGrid, "Name", txtFieldName = named(new QLineEdit, "txtFieldName"));
    addRow(fieldGrid, "Description", txtFieldDesc = named(new QLineEdit, "txtFieldDesc"));
    addRow(fieldGrid, "Type", cboFieldType = named(new QComboBox, "cboFieldType"));
    addRow(fieldGrid, "FieldWidth", txtFieldWidth = named(new QLineEdit(QStringLiteral("10")), "txtFieldWidth"));
    addRow(fieldGrid, "Decimals", txtDecimals = named(new QLineEdit(QStringLiteral("0")), "txtDecimals"));
    addRow(fieldGrid, "Allow Null", cboNull = named(new QComboBox, "cboNull"));
    addRow(fieldGrid, "DomainName", txtDomainName = named(new QLineEdit, "txtDomainName"));
    auto* fieldButtons = new QHBoxLayout;
    fieldButtons->addWidget(cmdAddField = named(new QPushButton(QStringLiteral("Add")), "cmdAddField"));
    fieldButtons->addWidget(cmdRemoveField = named(new QPushButton(QStringLiteral("Remove")), "cmdRemoveField"));
    fieldGrid->addLayout(fieldButtons, fieldGrid->rowCount(), 0, 1, 2);
    fieldGrid->setRowStretch(fieldGrid->rowCount(), 1);

    cmdWrite = named(new QPushButton(QStringLiteral("Ok"), this), "cmdWrite");
    cmdCancel = named(new QPushButton(QStringLiteral("Cancel"), this), "cmdCancel");

    auto* frames = new QHBoxLayout;
    frames->addWidget(fraLayers);
    frames->addWidget(fraFields);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdWrite);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(frames);
    layout->addLayout(buttons);

    connect(cboLayers, &QComboBox::currentIndexChanged, this, &frmXmlCreator::cboLayers_Click);
    connect(cboFields, &QComboBox::currentIndexChanged, this, &frmXmlCreator::cboFields_Click);
    connect(txtLayerTagName, &QLineEdit::textChanged, this, &frmXmlCreator::txtLayerTagName_Change);
    connect(txtFieldTagName, &QLineEdit::textChanged, this, &frmXmlCreator::txtFieldTagName_Change);
    connect(cmdAddLayer, &QPushButton::clicked, this, &frmXmlCreator::cmdAddLayer_Click);
    connect(cmdRemoveLayer, &QPushButton::clicked, this, &frmXmlCreator::cmdRemoveLayer_Click);
    connect(cmdAddField, &QPushButton::clicked, this, &frmXmlCreator::cmdAddField_Click);
    connect(cmdRemoveField, &QPushButton::clicked, this, &frmXmlCreator::cmdRemoveField_Click);
    connect(cmdWrite, &QPushButton::clicked, this, &frmXmlCreator::cmdWrite_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmXmlCreator::cmdCancel_Click);
    txtFieldWidth->installEventFilter(this);
    txtDecimals->installEventFilter(this);
}

void frmXmlCreator::fillValueLists()
{
    cboLayerType->addItems(layerTypeEntries());
    cboFeatureType->addItems(featureTypeEntries());
    cboShapeType->addItems(shapeTypeEntries());
    // Built up in this sequence; the result starts with "Integer".
    cboFieldType->addItem(QStringLiteral("SmallInteger"));
    cboFieldType->insertItem(0, QStringLiteral("Integer"));
    cboFieldType->addItem(QStringLiteral("Single"));
    cboFieldType->insertItem(1, QStringLiteral("Double"));
    cboFieldType->insertItem(2, QStringLiteral("String"));
    cboFieldType->insertItem(3, QStringLiteral("Date"));
    cboFieldType->addItems({QStringLiteral("OID"), QStringLiteral("Geometry"), QStringLiteral("Blob")});
    cboNull->addItems(allowNullEntries());
    cboHasZ->addItems(zmFlagEntries());
    cboHasM->addItems(zmFlagEntries());

    for (QComboBox* c : {cboLayerType, cboFeatureType, cboShapeType, cboFieldType, cboHasZ, cboHasM})
        c->setCurrentIndex(0);
    cboNull->setCurrentIndex(-1);
}

void frmXmlCreator::setTabOrder()
{
    QWidget* const order[] = {cmdAddLayer, cmdRemoveLayer, cmdAddField, cmdRemoveField, cmdWrite,
                              cmdCancel, cboLayers, txtLayerTagName, txtLayerName, txtLayerDesc,
                              cboLayerType, cboFeatureType, cboShapeType, cboFields, txtFieldTagName,
                              txtFieldDesc, cboFieldType, txtFieldWidth, txtDecimals, cboNull};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void frmXmlCreator::showEvent(QShowEvent* event)
{
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QWidget::showEvent(event);
}

void frmXmlCreator::Form_Load()
{
    fillValueLists();
    setTabOrder();
    ResetLayerControls();
    ResetFieldControls();
    LayerCount = 0;
    CurrentLayer = 0;
    LayerSerial = 0;
    FieldSerial = 0;
    SaveOnSelect = true;

    if (TargetNode.isNull())
        return; // the clipboard: the caption stays as it is
    if (!EditMode) {
        setWindowTitle(QStringLiteral("Add ApLayers"));
        return;
    }
    // The one layer is edited without the selector, so its Name box does not follow
    // its tag name.
    QString unreadable;
    const bool whole = ReadLayerNode(TargetNode, &layerAt(1), &unreadable);
    fraLayers->setTitle(QStringLiteral("ApLayer"));
    for (QWidget* w : std::initializer_list<QWidget*>{lblLayer, cboLayers, cmdAddLayer, cmdRemoveLayer})
        w->hide();
    setWindowTitle(QStringLiteral("Edit ApLayer"));
    if (!whole) {
        // Ok would write the empty record over the layer the user wanted to edit: a layer
        // that could not be read is only shown as such, and Cancel is the way out.
        fraLayers->setTitle(QStringLiteral("ApLayer: not readable at ") + unreadable);
        setWindowTitle(QStringLiteral("Edit ApLayer: cannot be read"));
        m_unreadable = true;
        setLayerControlsEnabled(false);
        cmdWrite->setToolTip(QStringLiteral("The layer could not be read (") + unreadable
                             + QStringLiteral("); Ok would write over it. Cancel closes the form."));
        return;
    }
    // Codes the element lacks or the lists do not know are shown, and kept, as read.
    KeepCodesAsRead(layerAt(1), TargetNode);
    LayerCount = 1;
    CurrentLayer = 1;
    ShowLayer(1);
    EnableLayerControls();
    if (WorkingFields.FieldCount > 0)
        EnableFieldControls();
    // What Ok would write if nothing were touched: only what differs from it is written.
    SaveCurrentLayer();
    m_asRead = layerAt(1);
}

void frmXmlCreator::setLayerControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{cmdWrite, cmdRemoveLayer, cmdAddField, cboLayers,
                                                      txtLayerTagName, txtLayerName, txtLayerDesc, cboLayerType,
                                                      cboFeatureType, cboShapeType, txtSubtypeName, cboHasZ,
                                                      cboHasM})
        w->setEnabled(enabled);
}

void frmXmlCreator::setFieldControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{cmdRemoveField, cboFields, txtFieldTagName, txtFieldName,
                                                      txtFieldDesc, cboFieldType, txtFieldWidth, txtDecimals,
                                                      cboNull, txtDomainName})
        w->setEnabled(enabled);
}

void frmXmlCreator::ResetLayerControls()
{
    setLayerControlsEnabled(false);
    cboLayers->clear();
    txtLayerTagName->clear();
    txtLayerName->clear();
    txtLayerDesc->clear();
    txtSubtypeName->clear();
    for (QComboBox* c : {cboLayerType, cboFeatureType, cboShapeType, cboHasZ, cboHasM})
        c->setCurrentIndex(0);
}

void frmXmlCreator::EnableLayerControls() { setLayerControlsEnabled(true); }

void frmXmlCreator::ResetFieldControls()
{
    setFieldControlsEnabled(false);
    cboFields->clear();
    txtFieldTagName->clear(); // the Name box follows through the mirroring
    txtFieldDesc->clear();
    txtDomainName->clear();
    cboFieldType->setCurrentIndex(0);
    cboNull->setCurrentIndex(0);
    txtFieldWidth->setText(QStringLiteral("10"));
    txtDecimals->setText(QStringLiteral("0"));
}

void frmXmlCreator::EnableFieldControls() { setFieldControlsEnabled(true); }

bool frmXmlCreator::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        // Only when the user moves on inside the form: a message box or another window
        // taking the focus is not leaving the box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == txtFieldWidth)
                txtFieldWidth_LostFocus();
            else if (watched == txtDecimals)
                txtDecimals_LostFocus();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmXmlCreator::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        if (cmdCancel->isEnabled())
            cmdCancel->click();
        return;
    }
    if (key != Qt::Key_Return && key != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button != cmdWrite) {
        button->click();
        return;
    }
    if (!cmdWrite->isEnabled())
        return;
    // Through the focus, as a click would: the width and decimals boxes check what was
    // typed when they are left, and a refusal there keeps the focus and stops the Ok.
    cmdWrite->setFocus(Qt::TabFocusReason);
    if (focusWidget() == cmdWrite && cmdWrite->isEnabled())
        cmdWrite->click();
}

void frmXmlCreator::unload() { close(); }

} // namespace treelark
